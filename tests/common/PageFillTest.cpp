// The insertion points of the page files: every marker filled, nothing else
// touched, and a file and its builder that disagree stop the tests.
#include "common/PageFill.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(PageFill, FillsEachMarkerAndLeavesTheRest) {
  const struct {
    const wchar_t* page;
    const wchar_t* filled;
  } cases[] = {
      // A marker may occur twice.
      {L"<title>{{TITLE}}</title><h2>{{TITLE}}</h2>", L"<title>T{{CODE}}</title><h2>T{{CODE}}</h2>"},
      // A script's own braces around a marker stay.
      {L"run(){{{TITLE}}}if(x){y();}", L"run(){T{{CODE}}}if(x){y();}"},
      // Braces that are not a marker are the page's text.
      {L"{{ TITLE }} {{title}} {{1A}} {{}} {TITLE} {{TITLE}} {{TITLE",
       L"{{ TITLE }} {{title}} {{1A}} {{}} {TITLE} T{{CODE}} {{TITLE"},
  };
  for (const auto& c : cases) {
    // The value holds a marker of its own, which must go in as text.
    EXPECT_EQ(FillPage(c.page, {{L"TITLE", L"T{{CODE}}"}}), c.filled) << c.page;
  }
}

TEST(PageFill, AFileAndItsValuesThatDisagreeThrow) {
  // A marker with no value (misspelt in the file or left out by the builder).
  EXPECT_THROW(FillPage(L"a {{TITLE}} {{CODE}}", {{L"TITLE", L"t"}}), std::logic_error);
  // A value with no marker (misspelt in the builder, or the marker not one).
  EXPECT_THROW(FillPage(L"a {{TITLE}}", {{L"TITLE", L"t"}, {L"TITEL", L"x"}}), std::logic_error);
  EXPECT_THROW(FillPage(L"a {{ TITLE }}", {{L"TITLE", L"t"}}), std::logic_error);
}

}  // namespace
