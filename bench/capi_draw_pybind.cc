// The same draw as capi_draw.py's, through an extension module built with pybind11, for the
// cost of a compiled binding beside ctypes and cffi. Built by bench/capi.sh when Debian's
// pybind11-dev is installed (named .cc, since the benchmark program takes every .cpp here).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <tallowmere/tallowmere.h>

namespace {

class Collection {
 public:
  explicit Collection(const std::vector<std::string>& operands) {
    std::vector<const char*> words;
    for (const std::string& operand : operands) words.push_back(operand.c_str());
    if (tm_collection_open_operands(TM_KIND_NORMAL, words.data(), words.size(), &collection_) !=
        TM_OK) {
      throw std::runtime_error(tm_last_error_message());
    }
  }
  Collection(const Collection&) = delete;
  Collection& operator=(const Collection&) = delete;
  ~Collection() { tm_collection_close(collection_); }

  [[nodiscard]] pybind11::str draw() const {
    tm_fortune* fortune = nullptr;
    if (tm_collection_draw(collection_, nullptr, nullptr, &fortune) != TM_OK) {
      throw std::runtime_error(tm_last_error_message());
    }
    pybind11::str text(fortune->text, fortune->text_length);
    tm_free(fortune);
    return text;
  }

 private:
  tm_collection* collection_ = nullptr;
};

}  // namespace

PYBIND11_MODULE(capi_draw_pybind, module) {
  pybind11::class_<Collection>(module, "Collection")
      .def(pybind11::init<const std::vector<std::string>&>())
      .def("draw", &Collection::draw);
}
