// Messages: codes and typed fields.
#include <gtest/gtest.h>

#include <string>

#include "gui/message.h"

namespace {

TEST(MessageCode, FirstCharacterInTheHighByte) {
  EXPECT_EQ(message_code("_QRQ"), 0x5F515251u);
  EXPECT_EQ(B_QUIT_REQUESTED, 0x5F515251u);
  EXPECT_EQ(message_code("wksv"), 0x776B7376u);
  EXPECT_EQ(message_code("\xff\x00\x01\x80"), 0xFF000180u);
}

TEST(MessageFields, FindGivesWhatWasAddedOrSaysWhyNot) {
  BMessage m(B_MOUSE_DOWN);
  m.AddInt32("buttons", 2);
  m.AddInt32("buttons", 5);  // a second value: Find gives the first
  m.AddString("label", "Save");
  m.AddPoint("where", BPoint(3, 4));
  struct Case {
    const char* name;
    status_t int_status, string_status, point_status;
  };
  const Case cases[] = {
      {"buttons", B_OK, B_BAD_TYPE, B_BAD_TYPE},
      {"label", B_BAD_TYPE, B_OK, B_BAD_TYPE},
      {"where", B_BAD_TYPE, B_BAD_TYPE, B_OK},
      {"missing", B_NAME_NOT_FOUND, B_NAME_NOT_FOUND, B_NAME_NOT_FOUND},
  };
  for (const Case& c : cases) {
    int32 number = -1;
    const char* text = "untouched";
    BPoint point(-1, -1);
    EXPECT_EQ(m.FindInt32(c.name, &number), c.int_status) << c.name;
    EXPECT_EQ(m.FindString(c.name, &text), c.string_status) << c.name;
    EXPECT_EQ(m.FindPoint(c.name, &point), c.point_status) << c.name;
    EXPECT_EQ(number, c.int_status == B_OK ? 2 : -1) << c.name << ": left alone unless found";
    EXPECT_STREQ(text, c.string_status == B_OK ? "Save" : "untouched") << c.name;
    EXPECT_EQ(point, c.point_status == B_OK ? BPoint(3, 4) : BPoint(-1, -1)) << c.name;
  }
}

TEST(MessageFields, CopyIsIndependent) {
  BMessage original(message_code("wkad"));
  original.AddString("text", "From:");
  BMessage copy(original);
  original.AddInt32("late", 1);
  int32 late = 0;
  const char* text = nullptr;
  EXPECT_EQ(copy.what, message_code("wkad"));
  EXPECT_EQ(copy.FindString("text", &text), B_OK);
  EXPECT_STREQ(text, "From:");
  EXPECT_EQ(copy.FindInt32("late", &late), B_NAME_NOT_FOUND);
}

}  // namespace
