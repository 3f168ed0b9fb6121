// The settings window: its form, the filters of its fields, and what Add,
// Delete, Save, Cancel and the close box do to the list, the settings, the
// file and f_config.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "gui/controls.h"
#include "gui/list_view.h"
#include "synthetic.h"
#include "gui/text_view.h"
#include "gui_app.h"
#include "temp_config.h"
#include "wykesub.h"

namespace {

using namespace wyke_test;
using Headers = std::vector<std::string>;

class ConfigWindow : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    fontsize = 12;
    checkmail_timer = 300;
    closewindow_timer = 15;
    show_header = {"From:", "Subject:"};
    f_config = false;  // as the notifier leaves it when it opens the window
    config();
    window = be_app->WindowAt(be_app->CountWindows() - 1);
  }
  void TearDown() override {
    GuiTest::TearDown();
    show_header.clear();
    f_config = true;
  }

  template <class View>
  View* find(const char* name) {
    View* view = nullptr;
    EXPECT_TRUE(on_window_thread(*window, [&] { view = dynamic_cast<View*>(window->FindView(name)); }));
    EXPECT_NE(view, nullptr) << name;
    return view;
  }
  std::string text_of(const char* name) {
    auto* view = find<BTextView>(name);
    std::string text;
    on_window_thread(*window, [&] { text = view->Text(); });
    return text;
  }
  Headers list_entries() {
    auto* list = find<BListView>("list header");
    Headers entries;
    on_window_thread(*window, [&] {
      for (int32 i = 0; i < list->CountItems(); ++i) entries.emplace_back(list->ItemAt(i)->Text());
    });
    return entries;
  }
  void type(const char* name, const char* text) { gui_synthetic::type(*find<BTextView>(name), text); }
  void empty(const char* name) {
    auto* view = find<BTextView>(name);
    on_window_thread(*window, [&] {
      view->SelectAll();
      view->Delete();
    });
  }
  void press(const char* button) { gui_synthetic::click(*find<BButton>(button), BPoint(10, 8), B_PRIMARY_MOUSE_BUTTON); }
  bool window_gone() {
    return pump_until([&] { return be_app->CountWindows() == 0; });
  }
  std::string settings_file(int font, int check, int close, const Headers& headers) {
    std::string text = "# Wyke config file.\nfontsize = " + std::to_string(font) +
                       "\nchecktime = " + std::to_string(check) + "\nclosetime = " + std::to_string(close) + "\n";
    for (const std::string& h : headers) text += "header = " + h + "\n";
    return text + "# End of config file.\n";
  }

  TempConfigHome home;
  BWindow* window = nullptr;
};

TEST_F(ConfigWindow, IsASmallFloatingFormOfFourteenControls) {
  EXPECT_STREQ(window->Title(), "wyke config");
  EXPECT_EQ(window->Type(), B_FLOATING_WINDOW);
  EXPECT_EQ(window->Flags(), B_NOT_RESIZABLE);
  EXPECT_EQ(window->Workspaces(), B_CURRENT_WORKSPACE);
  EXPECT_EQ(window->Bounds(), BRect(0, 0, 310, 135)) << "content 311 by 136";

  BView* form = find<BView>("content");
  std::vector<std::string> order;
  rgb_color colour{};
  on_window_thread(*window, [&] {
    for (int32 i = 0; i < form->CountChildren(); ++i) order.emplace_back(form->ChildAt(i)->Name());
    colour = form->ViewColor();
  });
  const std::vector<std::string> want = {
      "l_header",      "scroll e_header", "l_dheader",  "scroll list header", "Add button",
      "Delete button", "Save button",     "Cancel button", "l_fontsize",     "scroll e_fontsize",
      "l_checktime",   "scroll e_checktime", "l_closetime", "scroll e_closetime"};
  EXPECT_EQ(order, want);
  EXPECT_EQ(colour, (rgb_color{208, 208, 208, 255}));

  struct Label {
    const char* name;
    const char* text;
    BRect frame;
  };
  for (const Label& l : {Label{"l_header", "New Header:", BRect(5, 5, 115, 17)},
                         Label{"l_dheader", "Show Header(s):", BRect(175, 5, 295, 17)},
                         Label{"l_fontsize", "Font size:", BRect(5, 45, 115, 57)},
                         Label{"l_checktime", "Checking mailbox (sec):", BRect(5, 65, 115, 77)},
                         Label{"l_closetime", "Closing window (sec):", BRect(5, 85, 115, 97)}}) {
    auto* label = find<BStringView>(l.name);
    EXPECT_STREQ(label->Text(), l.text);
    EXPECT_EQ(label->Frame(), l.frame) << l.name;
  }

  struct Field {
    const char* name;
    const char* text;
    BRect frame;  // of its frame: the field plus the one-pixel border
    alignment how;
    int32 max_bytes;
  };
  for (const Field& f : {Field{"e_header", "", BRect(4, 19, 129, 33), B_ALIGN_LEFT, 20},
                         Field{"e_fontsize", "12", BRect(119, 44, 154, 58), B_ALIGN_RIGHT, 2},
                         Field{"e_checktime", "300", BRect(119, 64, 154, 78), B_ALIGN_RIGHT, 5},
                         Field{"e_closetime", "15", BRect(119, 84, 154, 98), B_ALIGN_RIGHT, 5}}) {
    auto* field = find<BTextView>(f.name);
    EXPECT_EQ(text_of(f.name), f.text);
    EXPECT_EQ(field->Parent()->Frame(), f.frame) << f.name;
    EXPECT_STREQ(field->Parent()->Name(), ("scroll " + std::string(f.name)).c_str());
    EXPECT_EQ(field->Alignment(), f.how) << f.name;
    EXPECT_EQ(field->MaxBytes(), f.max_bytes) << f.name;
    EXPECT_FALSE(field->DoesWordWrap()) << f.name;
  }

  struct Button {
    const char* name;
    const char* label;
    uint32 code;
  };
  for (const Button& b : {Button{"Add button", "Add", message_code("wkad")},
                          Button{"Delete button", "Delete", message_code("wkdl")},
                          Button{"Save button", "Save", message_code("wksv")},
                          Button{"Cancel button", "Cancel", message_code("wkcl")}}) {
    auto* button = find<BButton>(b.name);
    EXPECT_STREQ(button->Label(), b.label);
    EXPECT_EQ(button->Message()->what, b.code) << b.name;
  }
  EXPECT_EQ(list_entries(), (Headers{"From:", "Subject:"}));
}

TEST_F(ConfigWindow, FieldsTakeOnlyTheirCharactersAndBytes) {
  struct Case {
    const char* field;
    const char* typed;
    const char* want;
  };
  const Case cases[] = {
      {"e_header", "X-Spam-Flag:", "X-Spam-Flag:"},
      {"e_header", "a b.c_d/e", "abcde"},
      {"e_header", "R\xc3\xa9ply\xe6\x97\xa5", "Rply"},
      {"e_header", "abcdefghijklmnopqrstu", "abcdefghijklmnopqrst"},  // not a 21st byte
      {"e_fontsize", "1x23", "12"},
      {"e_checktime", "99-99 99", "99999"},
      {"e_closetime", "+7", "7"},
  };
  for (const Case& c : cases) {
    empty(c.field);
    type(c.field, c.typed);
    EXPECT_EQ(text_of(c.field), c.want) << c.field << " <- " << c.typed;
  }
}

TEST_F(ConfigWindow, AddAppendsTheHeaderAndEmptiesTheField) {
  type("e_header", "X-Spam:");
  press("Add button");
  ASSERT_TRUE(pump_until([&] { return list_entries().size() == 3; }));
  EXPECT_EQ(list_entries(), (Headers{"From:", "Subject:", "X-Spam:"}));
  EXPECT_EQ(text_of("e_header"), "");
  press("Add button");  // the field is empty: nothing happens
  type("e_header", "X-Spam:");
  press("Add button");
  ASSERT_TRUE(pump_until([&] { return list_entries().size() == 4; }));
  EXPECT_EQ(list_entries(), (Headers{"From:", "Subject:", "X-Spam:", "X-Spam:"})) << "no test for doubles";
}

TEST_F(ConfigWindow, DeleteTakesOutTheSelectedEntryOnly) {
  auto* list = find<BListView>("list header");
  press("Delete button");  // nothing selected
  type("e_header", "To:");
  press("Add button");
  ASSERT_TRUE(pump_until([&] { return list_entries().size() == 3; }));
  on_window_thread(*window, [&] { list->Select(0); });
  press("Delete button");
  ASSERT_TRUE(pump_until([&] { return list_entries().size() == 2; }));
  EXPECT_EQ(list_entries(), (Headers{"Subject:", "To:"}));
}

TEST_F(ConfigWindow, SaveStoresWritesAndResumes) {
  empty("e_fontsize");                   // an emptied field keeps its setting
  empty("e_checktime");
  type("e_checktime", "0");              // 0 is stored as 0
  empty("e_closetime");
  type("e_closetime", "42");
  type("e_header", "Left-Unadded:");     // not part of what Save stores
  press("Save button");
  ASSERT_TRUE(window_gone());
  EXPECT_TRUE(f_config);
  EXPECT_EQ(fontsize, 12);
  EXPECT_EQ(checkmail_timer, 0);
  EXPECT_EQ(closewindow_timer, 42);
  EXPECT_EQ(show_header, (Headers{"From:", "Subject:"}));
  EXPECT_EQ(home.read("Wyke"), settings_file(12, 0, 42, {"From:", "Subject:"}));
}

TEST_F(ConfigWindow, SaveWithEveryEntryDeletedWritesNoHeaderLines) {
  auto* list = find<BListView>("list header");
  for (int i = 0; i < 2; ++i) {
    on_window_thread(*window, [&] { list->Select(0); });
    press("Delete button");
    ASSERT_TRUE(pump_until([&] { return list_entries().size() == std::size_t(1 - i); }));
  }
  press("Save button");
  ASSERT_TRUE(window_gone());
  EXPECT_EQ(home.read("Wyke"), settings_file(12, 300, 15, {}));
}

TEST_F(ConfigWindow, CancelAndTheCloseBoxChangeNothingAndResume) {
  for (bool close_box : {false, true}) {
    if (close_box) {
      f_config = false;
      config();
      window = be_app->WindowAt(0);
    }
    empty("e_fontsize");
    type("e_fontsize", "30");
    type("e_header", "To:");
    press("Add button");
    ASSERT_TRUE(pump_until([&] { return list_entries().size() == 3; }));
    if (close_box)
      gui_synthetic::close_box(*window);
    else
      press("Cancel button");
    ASSERT_TRUE(window_gone()) << "close box: " << close_box;
    EXPECT_TRUE(f_config) << "close box: " << close_box;
    EXPECT_EQ(fontsize, 12);
    EXPECT_EQ(show_header, (Headers{"From:", "Subject:"}));
    EXPECT_EQ(home.read("Wyke"), "<missing>");
  }
}

TEST_F(ConfigWindow, FailedSaveKeepsTheListAndTheWindowAndSaysWhy) {
  home.write("not-a-folder", "x");
  const std::string blocked = home.path("not-a-folder");
  setenv("XDG_CONFIG_HOME", blocked.c_str(), 1);
  type("e_header", "To:");
  press("Add button");
  ASSERT_TRUE(pump_until([&] { return list_entries().size() == 3; }));
  press("Save button");
  ASSERT_TRUE(pump_until([] { return gui_synthetic::open_alerts().size() == 1; }));
  const std::string alert = gui_synthetic::open_alerts().front();
  EXPECT_NE(alert.find("could not be saved"), std::string::npos) << alert;
  EXPECT_NE(alert.find("settings folder"), std::string::npos) << "the reason: " << alert;
  EXPECT_EQ(be_app->CountWindows(), 1) << "the window stays open";
  EXPECT_FALSE(f_config) << "the check cycle stays paused";
  EXPECT_EQ(list_entries(), (Headers{"From:", "Subject:", "To:"})) << "the list keeps its entries";

  // Once the folder can be written, a second Save stores the whole list.
  setenv("XDG_CONFIG_HOME", home.dir().c_str(), 1);
  press("Save button");
  ASSERT_TRUE(window_gone());
  EXPECT_TRUE(f_config);
  EXPECT_EQ(home.read("Wyke"), settings_file(12, 300, 15, {"From:", "Subject:", "To:"}));
}

TEST_F(ConfigWindow, TwoWindowsEachResumeAndSaveUnderTheLock) {
  config();
  BWindow* second = be_app->WindowAt(1);
  press("Cancel button");  // the first
  ASSERT_TRUE(pump_until([&] { return be_app->CountWindows() == 1; }));
  EXPECT_TRUE(f_config);
  EXPECT_EQ(be_app->WindowAt(0), second) << "the other stays open";

  // A reader that copies the settings under the lock, as the check cycle does,
  // while the second window saves.
  std::atomic<bool> stop{false};
  std::atomic<int> copies{0};
  std::thread reader([&] {
    while (!stop) {
      std::lock_guard lock(settings_lock);
      const Headers copy = show_header;
      copies += copy.empty() ? 0 : 1;
    }
  });
  // Copying before the save starts: a thread is not bound to run at once on
  // a loaded machine, and one that never ran meets no save.
  const bool reading = pump_until([&] { return copies > 0; });
  window = second;
  empty("e_fontsize");
  type("e_fontsize", "9");
  press("Save button");
  EXPECT_TRUE(window_gone());
  stop = true;
  reader.join();
  EXPECT_TRUE(reading);
  EXPECT_EQ(fontsize, 9);
}

}  // namespace
