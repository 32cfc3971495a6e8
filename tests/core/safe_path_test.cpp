#include "core/safe_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"

namespace emberfall {
namespace {

TEST(IsSafeRelativePathTest, RefusesUnsafePathsAndNormalisesSafeOnes) {
  std::u16string longest;
  while (longest.size() < 1024) longest += u"abcdefgh/";
  longest.resize(1024);
  // Devices as Windows spells them, the launcher's own files and their 8.3 aliases.
  for (const std::u16string& path : std::initializer_list<std::u16string>{
           u"", u"..\\x.exe", u"D:\\game.exe", u"\\game.exe", u"/game.exe", u"\\\\srv\\s",
           u"a//b.exe", u"a\\", u"game.exe.", u"dir \\x.exe", u"a\\.\\b", u"a\\..", u".", u"...",
           u"a\"b", u"a*b", u"a:b", u"a<b", u"a>b", u"a?b", u"a|b", u"a\x1F" u"b", u"a\tb", u"a\x7F",
           u"file.txt:ads", longest + u"x", std::u16string(1025, u'a'), u"con.exe", u"Con.txt\\x",
           u"x\\nul", u"PRN", u"aux.a.b", u"CONIN$", u"conout$.log", u"com0", u"x\\LPT9.log",
           u"CON .txt", u"x\\nul  .x", u"COM\u00B9", u"com\u00B2.log", u"x\\LPT\u00B3.txt",
           u"EmbLauncher.cache", u"EmbLauncher.cache.tmp", u"EMBLAUNCHER.TRUST",
           u"EmbLauncher.Trust.tmp", u"game.exe.emb-new", u"data\\x.EMB-NEW", u"a.emb-new\\b",
           u"EMBLAU~1.CAC", u"emblau~2.tmp", u"EMBLA~10.TRU", u"E~1.CAC", u"EM1A2B~1.TMP",
           u"GAMEEX~1.EMB", u"data\\SAVE~3.emb", u"EmbLauncher.chunks", u"emblauncher.CHUNKS\\x",
           u"EMBLAU~1.CHU/key"}) {
    std::u16string out = u"stale";
    EXPECT_FALSE(IsSafeRelativePath(path, out)) << WideToUtf8(path);
    EXPECT_EQ(out, u"");
  }
  std::u16string out;
  EXPECT_TRUE(IsSafeRelativePath(u"Data\\Maps/Town Hall.pak", out));
  EXPECT_EQ(out, u"Data\\Maps\\Town Hall.pak");
  EXPECT_TRUE(IsSafeRelativePath(longest, out) && out.size() == 1024u);
  // Names that only look like devices or aliases of the launcher's files.
  for (const std::u16string& path : std::initializer_list<std::u16string>{
           u"game .exe", u" lead", u"a..b", u".hidden", u"a\x80", u"\u00FC\u015F\u0131.bin",
           u"COM10", u"COM", u"LPT", u"COMA", u"xnul", u"CONIN", u".con", u"\u0441on",
           u"CONSOLE\\AUXILIARY", u"CONX .txt", u"COM\u00B9\u00B9", u"data\\EmbLauncher.cache",
           u"EmbLauncher.cache.bak", u"save.emb-news", u"save~1.dat", u"EMBLAU~1.DAT",
           u"data\\EMBLAU~1.CAC", u"EMBLAX~1.CAC", u"EX1A2B~1.TRU", u"EMBLAU~1.CACH",
           u"EMBLAU~X.CAC", u"data\\EmbLauncher.chunks\\x"}) {
    EXPECT_TRUE(IsSafeRelativePath(path, out)) << WideToUtf8(path);
    EXPECT_EQ(out, path);
  }
}

}  // namespace
}  // namespace emberfall
