"""What a draw costs from Python: through the module (ctypes), through cffi's ABI mode and a
pybind11 extension (bench/capi_draw_pybind.cc) over the same shared library, and, for the
cost of the library call alone, the bare ctypes call.
Usage: python3 capi_draw.py LIBRARY ROUNDS [OPERAND...]   (PYTHONPATH must reach python/)
Prints one line per way: its name and the median of 11 runs, in microseconds a draw."""

import ctypes
import statistics
import sys
import time


def median_per_call(call, rounds):
    runs = []
    for _ in range(11):
        start = time.perf_counter()
        for _ in range(rounds):
            call()
        runs.append((time.perf_counter() - start) / rounds * 1e6)
    return statistics.median(runs)


def main():
    library, rounds, operands = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    import tallowmere
    from tallowmere import _native

    collection = tallowmere.Collection(*operands)
    print(f"module (ctypes)   {median_per_call(collection.draw, rounds):8.2f}")

    handle, lib = collection._handle, _native.lib
    pointer = ctypes.POINTER(_native.Fortune)()

    def bare_ctypes():
        lib.tm_collection_draw(handle, None, None, ctypes.byref(pointer))
        text = ctypes.string_at(pointer.contents.text, pointer.contents.text_length).decode()
        lib.tm_free(pointer)
        return text

    print(f"bare ctypes       {median_per_call(bare_ctypes, rounds):8.2f}")

    try:
        import cffi
    except ImportError:
        print("cffi              (python3-cffi is not installed)")
        return
    ffi = cffi.FFI()
    ffi.cdef("""
        typedef struct tm_collection tm_collection;
        typedef struct tm_fortune { const char* path; int64_t number; const char* text;
                                    size_t text_length; } tm_fortune;
        typedef struct tm_filter tm_filter;
        int tm_collection_open_operands(int kind, const char* const* operands, size_t count,
                                        tm_collection** collection);
        int tm_collection_draw(const tm_collection* collection, const tm_filter* filter,
                               const uint64_t* seed, tm_fortune** fortune);
        void tm_free(void* pointer);
    """)
    clib = ffi.dlopen(library)
    words = [ffi.new("char[]", operand.encode()) for operand in operands]
    array = ffi.new("const char*[]", words or [ffi.NULL])
    out = ffi.new("tm_collection**")
    assert clib.tm_collection_open_operands(1, array, len(words), out) == 0
    cffi_collection = out[0]
    fortune = ffi.new("tm_fortune**")

    def cffi_draw():
        clib.tm_collection_draw(cffi_collection, ffi.NULL, ffi.NULL, fortune)
        text = ffi.unpack(fortune[0].text, fortune[0].text_length).decode()
        clib.tm_free(fortune[0])
        return text

    print(f"cffi (ABI mode)   {median_per_call(cffi_draw, rounds):8.2f}")

    try:
        import capi_draw_pybind
    except ImportError:
        print("pybind11          (pybind11-dev is not installed)")
        return
    pybind_collection = capi_draw_pybind.Collection(operands)
    print(f"pybind11          {median_per_call(pybind_collection.draw, rounds):8.2f}")


if __name__ == "__main__":
    main()
