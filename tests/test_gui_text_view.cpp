// Text views: they measure what they paint, at the size of the font set, and
// typing passes the character filter and the byte limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "synthetic.h"
#include "gui/text_view.h"
#include "gui_app.h"
#include "repeat.h"

namespace {

using namespace wyke_test;

class TextView : public GuiTest {
 protected:
  // A display view, as the notifier's: not editable, not selectable, no wrap.
  BTextView* display(const std::string& text, float size, BRect frame = BRect(0, 0, 599, 299)) {
    auto* view = new BTextView(frame, "display", frame, B_FOLLOW_ALL, B_WILL_DRAW);
    owned.emplace_back(view);
    view->MakeEditable(false);
    view->MakeSelectable(false);
    view->SetWordWrap(false);
    view->SetText(text.c_str(), int32(text.size()));
    BFont font;
    view->GetFontAndColor(0, &font);
    font.SetSize(size);
    view->SetFontAndColor(&font, B_FONT_ALL);
    return view;
  }
  BTextView* field(int32 max_bytes) {
    auto* view = new BTextView(BRect(0, 0, 199, 19), "field", BRect(0, 0, 199, 19), B_FOLLOW_NONE, B_WILL_DRAW);
    owned.emplace_back(view);
    view->SetWordWrap(false);
    view->SetMaxBytes(max_bytes);
    return view;
  }
  std::vector<std::unique_ptr<BTextView>> owned;  // views of no window: the test deletes them
};

struct Ink {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};

// Where the view painted anything but its white background.
Ink ink_of(const BView& view) {
  const gui_synthetic::Snapshot shot = gui_synthetic::snapshot(view);
  Ink ink;
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) {
      if ((shot.at(x, y) & 0xFFFFFF) == 0xFFFFFF) continue;
      ink.left = std::min(ink.left, x);
      ink.top = std::min(ink.top, y);
      ink.right = std::max(ink.right, x);
      ink.bottom = std::max(ink.bottom, y);
    }
  return ink;
}

TEST_F(TextView, EveryPaintedPixelLiesInsideTheMeasuredBox) {
  const std::string texts[] = {
      "From: alice@example.org",
      "Subject: Hello World",
      "jjj fff",                               // glyphs that reach past their advance
      "WAVY ||| ...",
      "\xc3\x85" "ngstr\xc3\xb6m gjpqy \xc3\x89t\xc3\xa9",  // accents above, descenders below
      "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe4\xbb\xb6\xe5\x90\x8d",  // Japanese
      "From: bob\nSubject: a much longer second line\nX",
  };
  for (float size : {8.0f, 10.0f, 12.0f, 20.0f}) {
    for (const std::string& text : texts) {
      BTextView* view = display(text, size);
      const int32 lines = view->CountLines();
      float width = 0;
      for (int32 i = 0; i < lines; ++i) width = std::max(width, view->LineWidth(i));
      const float height = view->TextHeight(0, lines - 1);
      const Ink ink = ink_of(*view);
      SCOPED_TRACE(text + " at " + std::to_string(size));
      ASSERT_GE(ink.right, 0) << "painted nothing";
      EXPECT_GE(ink.left, 0);
      EXPECT_GE(ink.top, 0);
      EXPECT_LT(ink.right, width) << "painted right of the measured width";
      EXPECT_LT(ink.bottom, height) << "painted below the measured height";
      EXPECT_GE(ink.right, width - 4) << "measured much wider than painted";
    }
  }
}

TEST_F(TextView, SizesGrowWithTheFont) {
  BTextView* view = display("Subject: Hello", 10);
  const float width10 = view->LineWidth(0);
  const float height10 = view->TextHeight(0, 0);
  BFont font;
  font.SetSize(20);
  view->SetFontAndColor(&font, B_FONT_SIZE);
  BFont got;
  view->GetFontAndColor(0, &got);
  EXPECT_EQ(got.Size(), 20);
  EXPECT_GT(view->LineWidth(0), 1.6f * width10);
  EXPECT_GT(view->TextHeight(0, 0), 1.6f * height10);
  EXPECT_GE(height10, 10) << "a line is at least the font's size high";
  EXPECT_LE(height10, 20);
}

TEST_F(TextView, TextHeightOfLineRanges) {
  BTextView* view = display("one\ntwo\nthree", 12);
  const float line = view->TextHeight(0, 0);
  ASSERT_GT(line, 0);
  struct Case {
    int32 from, to;
    float lines;
  };
  const Case cases[] = {{0, 2, 3}, {1, 1, 1}, {1, 2, 2}, {0, -1, 0}, {2, 0, 0}, {-5, 10, 3}, {5, 9, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(view->TextHeight(c.from, c.to), c.lines * line) << c.from << ".." << c.to;
  EXPECT_EQ(view->CountLines(), 3);
  EXPECT_EQ(view->LineWidth(3), 0);
  EXPECT_EQ(view->LineWidth(-1), 0);
}

TEST_F(TextView, EmptyTextIsOneEmptyLine) {
  BTextView* view = display("", 12);
  EXPECT_EQ(view->CountLines(), 1);
  EXPECT_EQ(view->LineWidth(0), 0);
  EXPECT_STREQ(view->Text(), "");
  EXPECT_EQ(view->TextHeight(0, -1), 0);
}

TEST_F(TextView, SetTextTakesTheGivenBytes) {
  BTextView* view = display("", 12);
  view->SetText("abc\0def", 7);
  EXPECT_EQ(view->TextLength(), 7);
  view->SetText("From: x", 4);
  EXPECT_STREQ(view->Text(), "From");
}

TEST_F(TextView, TypingPassesTheFilterAndTheByteLimit) {
  struct Case {
    const char* name;
    const char* allowed;  // nullptr: every character
    int32 max_bytes;
    const char* typed;
    const char* want;
  };
  const Case cases[] = {
      {"digits only", "0123456789", 5, "12a3-4 5678", "12345"},
      {"limit counts bytes", nullptr, 4, "a\xc3\xa9\xc3\xa9", "a\xc3\xa9"},
      {"beyond ascii refused", "abc", 20, "a\xc3\xa9" "b\xe6\x97\xa5" "c", "abc"},
      {"letters and two signs", "abcXYZ:-", 20, "X-a:b.c_ Y", "X-a:bcY"},
      {"backspace works when all is refused", "", 20, "\b\b", ""},
      {"editing keys are no characters", "ab", 20, "ab\b\x7f" "a", "aa"},
      {"return is a character", "a\n", 20, "a\na", "a\na"},
  };
  for (const Case& c : cases) {
    BTextView* view = field(c.max_bytes);
    if (c.allowed != nullptr) {
      for (uint32 ch = 0; ch < 256; ++ch) view->DisallowChar(ch);
      for (const char* a = c.allowed; *a; ++a) view->AllowChar(uint8(*a));
    }
    gui_synthetic::type(*view, c.typed);
    EXPECT_STREQ(view->Text(), c.want) << c.name;
  }
}

TEST_F(TextView, TextSetPastTheLimitShowsWholeAndTypingCannotGrowIt) {
  BTextView* view = field(2);
  view->SetText("300");
  gui_synthetic::type(*view, "1");
  EXPECT_STREQ(view->Text(), "300");
  view->SelectAll();
  view->Delete();
  gui_synthetic::type(*view, "123");
  EXPECT_STREQ(view->Text(), "12");
}

TEST_F(TextView, SelectionAndDelete) {
  struct Case {
    int32 start, end;
    const char* want;
  };
  const Case cases[] = {{0, 100, ""}, {1, 2, "hllo"}, {3, 1, "hlo"}, {2, 2, "hello"}, {-4, 1, "ello"}};
  for (const Case& c : cases) {
    BTextView* view = field(100);
    view->SetText("hello");
    view->Select(c.start, c.end);
    view->Delete();
    EXPECT_STREQ(view->Text(), c.want) << c.start << ".." << c.end;
  }
  BTextView* view = field(100);
  view->SetText("hello");
  view->SelectAll();
  int32 start = -1, end = -1;
  view->GetSelection(&start, &end);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, 5);
  gui_synthetic::type(*view, "X");
  EXPECT_STREQ(view->Text(), "X") << "typing replaces the selection";
}

TEST_F(TextView, WordWrapBreaksAtBlanksToFitTheTextRect) {
  BTextView* view = display("alpha beta gamma delta", 12);
  const float one_line = view->LineWidth(0);
  view->SetTextRect(BRect(0, 0, one_line / 2, 299));
  EXPECT_EQ(view->CountLines(), 1) << "no wrap";
  view->SetWordWrap(true);
  EXPECT_GT(view->CountLines(), 1);
  for (int32 i = 0; i < view->CountLines(); ++i) EXPECT_LE(view->LineWidth(i), one_line / 2 + 1) << i;
  view->SetTextRect(BRect(0, 0, 3, 299));
  EXPECT_EQ(view->CountLines(), 4) << "a word wider than the rectangle stays whole";
}

}  // namespace

// --- Text larger than the view ---------------------------------------------------------

// "line 1" to "line `count`", one a line.
std::string numbered_lines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += (i > 1 ? "\nline " : "line ") + std::to_string(i);
  return text;
}

int32 offset_of_line(const std::string& text, int line) {
  return line < 0 ? int32(text.size()) : int32(text.find("line " + std::to_string(line) + "\n"));
}

struct ScrollCase {
  const char* name;
  int lines;
  bool scrollable;
  std::vector<int> shown;  // lines asked for in turn; -1: the end (TextLength)
  float top_in_lines;      // of the view's bounds afterwards, in lines past the view's own height
  bool from_bottom;        // top_in_lines counts from the text's end: -1 is a view-high scroll short of it
};

TEST_F(TextView, ScrollingShowsTheLineAskedForAndNoMore) {
  const std::vector<ScrollCase> cases = {
      {"short_text_never_scrolls", 3, true, {-1}, 0, false},
      {"the_end_shows_the_last_line_at_the_bottom", 100, true, {-1}, 0, true},
      {"back_to_the_start", 100, true, {-1, 1}, 0, false},
      {"a_line_below_comes_up_to_the_bottom", 100, true, {50}, 50, false},
      {"a_line_already_shown_moves_nothing", 100, true, {-1, 99}, 0, true},
      {"a_view_that_does_not_scroll_stays", 100, false, {-1}, 0, false},
  };
  for (const ScrollCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = numbered_lines(c.lines);
    BTextView* view = display(text, 12, BRect(0, 0, 299, 99));
    view->MakeScrollable(c.scrollable);
    EXPECT_EQ(view->IsScrollable(), c.scrollable);
    for (int line : c.shown) view->ScrollToOffset(offset_of_line(text, line));
    const float pitch = view->TextHeight(0, 0);
    const BRect bounds = view->Bounds();
    const float all = view->TextHeight(0, c.lines - 1);
    // Line n (from 1) ends at n * pitch: brought up from below, it ends at the view's bottom.
    const float want = c.from_bottom ? all - 100 : c.top_in_lines > 0 ? c.top_in_lines * pitch - 100 : 0;
    EXPECT_EQ(bounds.top, want);
    EXPECT_EQ(bounds.Height(), 99) << "scrolling keeps the size";
  }
}

TEST_F(TextView, TheWheelScrollsWithinTheText) {
  const std::string text = numbered_lines(100);
  BTextView* view = display(text, 12, BRect(0, 0, 299, 99));
  view->MakeScrollable();
  const float end = view->TextHeight(0, 99) - 100;
  gui_synthetic::turn_wheel(*view, BPoint(10, 10), -2);
  EXPECT_GT(view->Bounds().top, 0) << "down";
  for (int notch = 0; notch < 200; ++notch) gui_synthetic::turn_wheel(*view, BPoint(10, 10), -1);
  EXPECT_EQ(view->Bounds().top, end) << "no further than the end";
  for (int notch = 0; notch < 200; ++notch) gui_synthetic::turn_wheel(*view, BPoint(10, 10), 1);
  EXPECT_EQ(view->Bounds().top, 0) << "no further than the start";

  BTextView* still = display(text, 12, BRect(0, 0, 299, 99));
  gui_synthetic::turn_wheel(*still, BPoint(10, 10), -2);
  EXPECT_EQ(still->Bounds().top, 0) << "a view that does not scroll";
}

TEST_F(TextView, AViewAtItsEndStaysThereAsItsWindowChangesSize) {
  auto* window = new BWindow(BRect(40, 40, 339, 139), "scrolling", B_TITLED_WINDOW, B_NOT_RESIZABLE);
  auto* view = new BTextView(BRect(0, 0, 299, 99), "text", BRect(0, 0, 299, 99), B_FOLLOW_ALL, B_WILL_DRAW);
  window->AddChild(view);
  view->MakeScrollable();
  const std::string text = numbered_lines(200);
  view->SetText(text.c_str());
  view->ScrollToOffset(int32(text.size()));
  window->Show();
  for (float height : {59.0f, 199.0f, 99.0f}) {
    float bottom = 0, all = 0;
    ASSERT_TRUE(on_window_thread(*window, [&] {
      window->ResizeTo(299, height);
      bottom = view->Bounds().bottom;
      all = view->TextHeight(0, 199);
    }));
    EXPECT_EQ(bottom + 1, all) << "height " << height;
  }
}

TEST_F(TextView, ACutLineEndsInAnEllipsisAndShowsWholeUnderThePointer) {
  const std::string cut = "Subject: " + repeat("word ", 100) + "end";
  const std::string text = "From: ann\n" + cut;
  BTextView* plain = display(text, 12, BRect(0, 0, 299, 99));
  const gui_synthetic::Snapshot whole = gui_synthetic::snapshot(*plain);
  BTextView* view = display(text, 12, BRect(0, 0, 299, 99));
  view->MakeScrollable();
  const gui_synthetic::Snapshot elided = gui_synthetic::snapshot(*view);
  const int row = int(view->TextHeight(0, 0));  // the second line's top
  int same_left = 0, differ_right = 0;
  for (int y = row; y < 2 * row; ++y)
    for (int x = 0; x < 300; ++x) {
      if (x < 200) same_left += whole.at(x, y) == elided.at(x, y);
      else differ_right += whole.at(x, y) != elided.at(x, y);
    }
  EXPECT_EQ(same_left, 200 * row) << "the start of the line is drawn as it is";
  EXPECT_GT(differ_right, 0) << "its end gives way to the ellipsis";

  struct Rest {
    const char* name;
    BTextView* view;
    float y;
    std::string tip;
  };
  const Rest rests[] = {
      {"a_whole_line_has_no_tooltip", view, 2, ""},
      {"a_cut_line_shows_whole", view, row + 2.0f, cut},
      {"below_the_lines", view, 3.0f * row, ""},
      {"a_view_that_does_not_scroll_cuts_nothing", plain, row + 2.0f, ""},
  };
  for (const Rest& r : rests) EXPECT_EQ(gui_synthetic::rest_pointer(*r.view, BPoint(50, r.y)), r.tip) << r.name;
}

TEST_F(TextView, TheViewsOwnTooltipComesFirstAndShowsAsText) {
  const std::string cut = "Subject: " + repeat("word ", 100);
  BTextView* view = display(cut, 12, BRect(0, 0, 299, 99));
  view->MakeScrollable();
  const std::string tips[] = {"Connection refused by mail.example.org:110", "<b>not bold</b> & <img src=x>"};
  for (const std::string& tip : tips) {
    view->SetToolTip(tip.c_str());
    EXPECT_EQ(view->ToolTip(), tip);
    EXPECT_EQ(gui_synthetic::rest_pointer(*view, BPoint(50, 2)), tip);
  }
  view->SetToolTip("");
  EXPECT_EQ(gui_synthetic::rest_pointer(*view, BPoint(50, 2)), cut) << "the line's own again";
}

// Glyphs that reach further make a view's lines taller still; an empty line
// is the font's own.
TEST_F(TextView, AFontsHeightIsTheHeightOfAnEmptyLineInThatFont) {
  for (float size : {2.0f, 10.0f, 12.0f, 30.0f}) {
    BFont font;
    font.SetSize(size);
    font_height height;
    font.GetHeight(&height);
    BTextView* view = display("", size);
    EXPECT_EQ(height.ascent + height.descent + height.leading, view->TextHeight(0, 0)) << size;
  }
}
