// FortuneType: enumeration vocabulary, text forms and parsing.
#include <gtest/gtest.h>

#include <vector>

#include <tallowmere/Data/Fortune.hpp>

namespace tallowmere {
namespace {

using Types = std::vector<FortuneType>;
constexpr FortuneType All = FortuneType::All;
constexpr FortuneType Normal = FortuneType::Normal;
constexpr FortuneType Offensive = FortuneType::Offensive;

template <class F>
std::string usageMessage(F&& f) {
  try {
    f();
  } catch (const UsageError& e) {
    return e.what();
  }
  return "(no UsageError)";
}

TEST(FortuneTypeEnum, NumbersBoundsAndNeighbours) {
  EXPECT_EQ(toEnum<FortuneType>(0), All);
  EXPECT_EQ(toEnum<FortuneType>(1), Normal);
  EXPECT_EQ(toEnum<FortuneType>(2), Offensive);
  for (FortuneType t : {All, Normal, Offensive}) EXPECT_EQ(toEnum<FortuneType>(fromEnum(t)), t);
  EXPECT_EQ(minBound<FortuneType>(), All);
  EXPECT_EQ(maxBound<FortuneType>(), Offensive);
  EXPECT_LT(All, Normal);
  EXPECT_LT(Normal, Offensive);
  EXPECT_EQ(succ(All), Normal);
  EXPECT_EQ(pred(Offensive), Normal);
}

TEST(FortuneTypeEnum, OutOfRangeGivesTheExactUsageErrors) {
  EXPECT_EQ(usageMessage([] { (void)toEnum<FortuneType>(3); }),
            "toEnum{FortuneType}: tag (3) is outside of enumeration's range (0,2)");
  EXPECT_EQ(usageMessage([] { (void)toEnum<FortuneType>(-1); }),
            "toEnum{FortuneType}: tag (-1) is outside of enumeration's range (0,2)");
  EXPECT_EQ(usageMessage([] { (void)succ(Offensive); }),
            "succ{FortuneType}: tried to take `succ' of last tag in enumeration");
  EXPECT_EQ(usageMessage([] { pred(All); }),
            "pred{FortuneType}: tried to take `pred' of first tag in enumeration");
}

TEST(FortuneTypeEnum, Ranges) {
  EXPECT_EQ(enumFrom(Normal), (Types{Normal, Offensive}));
  EXPECT_EQ(enumFrom(All), (Types{All, Normal, Offensive}));
  EXPECT_EQ(enumFromTo(All, Normal), (Types{All, Normal}));
  EXPECT_EQ(enumFromTo(Offensive, All), Types{});
  EXPECT_EQ(enumFromThen(Offensive, Normal), (Types{Offensive, Normal, All}));
  EXPECT_EQ(enumFromThen(All, Offensive), (Types{All, Offensive}));
  EXPECT_EQ(enumFromThen(Normal, All), (Types{Normal, All}));
  EXPECT_EQ(enumFromThenTo(All, Normal, Normal), (Types{All, Normal}));
  EXPECT_EQ(enumFromThenTo(All, Offensive, Normal), (Types{All}));
  EXPECT_EQ(enumFromThenTo(Offensive, All, Normal), (Types{Offensive}));
  EXPECT_EQ(enumFromThenTo(Normal, All, Offensive), Types{});
}

TEST(FortuneTypeEnum, AStepOfZeroIsRefusedRatherThanEndless) {
  EXPECT_EQ(enumFromThenTo(Normal, Normal, All), Types{});
  EXPECT_THROW((void)enumFromThenTo(Normal, Normal, Offensive), UsageError);
  EXPECT_THROW((void)enumFromThen(Offensive, Offensive), UsageError);
}

TEST(FortuneTypeText, ShowsNamesAndLists) {
  EXPECT_EQ(show(All), "All");
  EXPECT_EQ(show(Normal), "Normal");
  EXPECT_EQ(show(Offensive, 11), "Offensive");
  EXPECT_EQ(show(Types{All, Normal}), "[All,Normal]");
  EXPECT_EQ(show(Types{}), "[]");
}

TEST(FortuneTypeText, ReadsNamesWithSpaceAndParentheses) {
  EXPECT_EQ(read<FortuneType>("Normal"), Normal);
  EXPECT_EQ(read<FortuneType>(" ( Offensive ) "), Offensive);
  EXPECT_EQ(read<FortuneType>("((All))"), All);
  for (FortuneType t : {All, Normal, Offensive}) EXPECT_EQ(read<FortuneType>(show(t)), t);
  for (const char* bad :
       {"normal", "", "Normal Normal", "Normalx", "(Normal", "((All)", "All)", "1", "[All]"}) {
    EXPECT_FALSE(read<FortuneType>(bad).has_value()) << bad;
  }
}

TEST(FortuneTypeText, ReadsListsInThePrintedForm) {
  EXPECT_EQ(read<Types>("[All,Normal]"), (Types{All, Normal}));
  EXPECT_EQ(read<Types>(" [ (Offensive) , All ] "), (Types{Offensive, All}));
  EXPECT_EQ(read<Types>("[]"), Types{});
  EXPECT_EQ(read<Types>("([Normal])"), Types{Normal});
  const Types all = enumFrom(All);
  EXPECT_EQ(read<Types>(show(all)), all);
  for (const char* bad : {"[All,]", "[,All]", "[All Normal]", "All", "[All", "[all]", "[All]]"}) {
    EXPECT_FALSE(read<Types>(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace tallowmere
