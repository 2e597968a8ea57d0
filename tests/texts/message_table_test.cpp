#include "texts/message_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace vellumark {
namespace {

constexpr Language kEn = Language::English, kSc = Language::SimplifiedChinese, kTc = Language::TraditionalChinese;
constexpr Language kLanguages[] = {kEn, kSc, kTc};

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2
                    : (lead & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + extra >= s.size()) return false;
    std::uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    constexpr std::uint32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kShortest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

class MessageTable : public ::testing::Test {
 protected:
  void TearDown() override { ChooseLanguage(kEn); }
};

TEST_F(MessageTable, KnownRows) {
  const struct { Language language; int slot; std::string_view text; } rows[] = {
      {kEn, 16, "Failed to open drive!"}, {kSc, 16, "打开分区失败!"}, {kTc, 16, "打開分區失敗!"},
      {kEn, 19, "Invalid sector range!"}, {kEn, 35, "Invalid sector range!"}, {kEn, 23, "invalid sector range!"},
      {kSc, 19, "超出有效扇区范围!"}, {kSc, 35, "备份扇区范围无效!"}, {kSc, 23, "扫描扇区范围无效!"},
      {kEn, 18, "Total Sectors: "}, {kEn, 41, "Sector: "}, {kEn, 25, "Success: "}, {kEn, 27, "Rescued file "},
      {kEn, 77, "Source:"}, {kSc, 77, "源盘: "}, {kTc, 77, "源盤:"},
      {kTc, 1, "Vellumark1.3"}, {kTc, 7, "檔案類型:"}, {kTc, 18, "扇區總數: "},
      {kTc, 62, "更多功能>>"}, {kTc, 67, "刪除或自動消失"},
      {kEn, 0, "Name"}, {kEn, 33, "Fragments"}, {kEn, 64, "Last saved"}, {kEn, 79, "unchecked"},
      {kSc, 0, "名称"}, {kSc, 76, "已损坏"}, {kTc, 0, "名稱"}, {kTc, 64, "最後保存"}, {kTc, 76, "已損壞"},
      {kEn, 85, "Out of memory! The operation was stopped."}, {kSc, 85, "内存不足! 操作已停止."},
      {kTc, 85, "記憶體不足! 操作已停止."}, {kEn, 86, "it is a pipe, not a drive or an image file"},
      {kSc, 86, "这是管道, 不是分区或映像文件"}, {kTc, 86, "這是管道, 不是分區或映像檔案"},
      {kEn, 81, "partial"}, {kSc, 81, "部分"}, {kTc, 81, "部分"}, {kEn, 83, "Reassembled from"},
      {kSc, 83, "重组碎片数"}, {kTc, 83, "重組碎片數"},
  };
  for (const auto& r : rows) EXPECT_EQ(Text(r.language, r.slot), r.text) << int(r.language) << " slot " << r.slot;
}

TEST_F(MessageTable, EmptyAndOutOfRangeSlots) {
  for (Language language : kLanguages) {
    for (int slot : {-1, kMessageSlots, 1000}) {
      EXPECT_STREQ(Text(language, slot), "") << int(language) << " slot " << slot;
    }
    for (int slot : {0, 10, 28, 30, 31, 32, 33, 34, 61, 64, 71, 72, 73, 74, 76, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89,
                     90, 91, 92, 93, 94, 95, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111,
                     112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128,
                     129, 130, 131, 132, 153, 154, kMessageSlots - 1}) {
      EXPECT_STRNE(Text(language, slot), "") << int(language) << " slot " << slot;  // the table's ends included
    }
  }
  EXPECT_STREQ(Text(-1), "");
  EXPECT_STREQ(Text(kMessageSlots), "");
}

TEST_F(MessageTable, FontsAndCodePages) {
  EXPECT_STREQ(TableFont(kEn), "MS Sans Serif");
  EXPECT_STREQ(TableFont(kSc), "宋体");
  EXPECT_STREQ(TableFont(kTc), "細明體");
  const struct { int codePage; Language language; } cases[] = {
      {936, kSc}, {950, kTc}, {1252, kEn}, {437, kEn}, {0, kEn}, {932, kEn}, {949, kEn}};
  for (const auto& c : cases) EXPECT_EQ(LanguageForCodePage(c.codePage), c.language) << c.codePage;
}

TEST_F(MessageTable, ChosenLanguageDrivesTextAndFont) {
  for (Language language : kLanguages) {
    ChooseLanguage(language);
    EXPECT_EQ(ChosenLanguage(), language);
    EXPECT_STREQ(Text(16), Text(language, 16));
    EXPECT_STREQ(TableFont(), TableFont(language));
  }
}

TEST_F(MessageTable, TraditionalFollowsSimplifiedSlotForSlot) {
  const auto blank = [](std::string_view s) { return !s.empty() && s.back() == ' '; };
  for (int slot = 0; slot < kMessageSlots; ++slot) {
    const std::string_view sc = Text(kSc, slot), tc = Text(kTc, slot);
    EXPECT_EQ(sc.empty(), tc.empty()) << "slot " << slot;
    if (slot != 77) { EXPECT_EQ(blank(sc), blank(tc)) << "slot " << slot; }
  }
}

TEST_F(MessageTable, TraditionalUsesNoSimplifiedOnlyCharacters) {
  constexpr std::string_view kSimplifiedOnly =
      "开区关转类复浏扫围备错请设径无败获进删动丢数选择该盘钮页码这为对时们个间还后从发说样现过头见会门"
      "损坏检标题结称";
  int inSimplified = 0;
  for (std::size_t i = 0; i < kSimplifiedOnly.size(); i += 3) {
    const std::string_view ch = kSimplifiedOnly.substr(i, 3);
    for (int slot = 0; slot < kMessageSlots; ++slot) {
      EXPECT_EQ(std::string_view(Text(kTc, slot)).find(ch), std::string_view::npos) << "slot " << slot << " " << ch;
      inSimplified += std::string_view(Text(kSc, slot)).find(ch) != std::string_view::npos;
    }
  }
  EXPECT_GT(inSimplified, 20);  // the list really is the script the Simplified table uses
}

TEST_F(MessageTable, EveryTextIsUtf8) {
  EXPECT_FALSE(IsValidUtf8("\xB4\xF2\xBF\xAA") || IsValidUtf8("\xE6\x89"));  // GBK bytes, a cut sequence
  for (Language language : kLanguages) {
    for (int slot = 0; slot < kMessageSlots; ++slot) {
      EXPECT_TRUE(IsValidUtf8(Text(language, slot))) << int(language) << " slot " << slot;
    }
    EXPECT_TRUE(IsValidUtf8(TableFont(language)));
  }
}

TEST(CodePageForLocale, ChineseRegionsAndScripts) {
  const struct { std::string_view locale; int codePage; } cases[] = {
      {"zh_CN.UTF-8", 936}, {"zh_SG", 936}, {"zh_Hans", 936}, {"zh-Hans-CN", 936}, {"zh_CN.GB18030", 936},
      {"zh_TW.Big5", 950}, {"zh_HK.UTF-8", 950}, {"zh_MO", 950}, {"zh-Hant", 950}, {"zh_TW@euro", 950},
      {"zh_TW.UTF-8@euro", 950}, {"en_US.UTF-8", 437}, {"C", 437}, {"C.UTF-8", 437}, {"", 437},
      {"zh", 437}, {"fr_CN", 437}, {"en_TW", 437}, {"zh.TW", 437}, {"zh@CN", 437},
  };
  for (const auto& c : cases) EXPECT_EQ(CodePageForLocale(c.locale), c.codePage) << '"' << c.locale << '"';
}

class SystemLocale : public ::testing::Test {
 protected:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  void SetUp() override {
    for (int i = 0; i < 3; ++i) if (const char* v = std::getenv(kNames[i])) saved_[i] = v;
  }
  void TearDown() override {
    for (int i = 0; i < 3; ++i) Set(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
    ChooseLanguage(kEn);
  }
  static void Set(const char* name, const char* value) { value ? setenv(name, value, 1) : unsetenv(name); }
  std::optional<std::string> saved_[3];
};

TEST_F(SystemLocale, LcAllThenLcMessagesThenLang) {
  const struct { const char* values[3]; std::string_view expected; } cases[] = {
      {{nullptr, nullptr, nullptr}, "C"},
      {{nullptr, nullptr, "zh_CN.UTF-8"}, "zh_CN.UTF-8"},
      {{nullptr, "zh_TW", "zh_CN.UTF-8"}, "zh_TW"},
      {{"en_US.UTF-8", "zh_TW", "zh_CN.UTF-8"}, "en_US.UTF-8"},
      {{"zh_HK", nullptr, "en_US"}, "zh_HK"},
      {{"", "", "zh_SG"}, "zh_SG"},  // set to nothing counts as not set
      {{"", "", ""}, "C"},
  };
  for (const auto& c : cases) {
    for (int i = 0; i < 3; ++i) Set(kNames[i], c.values[i]);
    EXPECT_EQ(SystemLocaleName(), c.expected);
  }
}

TEST_F(SystemLocale, StartUpChoiceFollowsTheLocale) {
  Set("LC_ALL", nullptr);
  Set("LC_MESSAGES", "zh_HK.UTF-8");
  Set("LANG", "zh_CN.UTF-8");
  ChooseLanguageFromSystem();
  EXPECT_EQ(ChosenLanguage(), kTc);
  EXPECT_STREQ(Text(16), "打開分區失敗!");
  Set("LC_ALL", "C");
  ChooseLanguageFromSystem();
  EXPECT_EQ(ChosenLanguage(), kEn);
}

}  // namespace
}  // namespace vellumark
