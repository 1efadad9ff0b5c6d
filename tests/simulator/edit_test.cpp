// The edit control: selection, undo, clipboard, case, read-only, length.
#include "sim_test_support.h"

using namespace simtest;

namespace {

constexpr DISPID kText = DISPID_TEXT, kMaxLength = 11, kPasswordChar = 15, kReadOnly = 16,
                 kCharCase = 4, kModified = 29, kSelLength = 30, kSelStart = 31, kSelText = 32,
                 kCanUndo = 28, kClear = 18, kClearSelection = 19, kCopy = 20, kCut = 21,
                 kPaste = 22, kUndo = 23, kClearUndo = 24, kGetSelTextBuf = 25, kSelectAll = 26,
                 kSetSelTextBuf = 27;

void Select(Component& c, LONG start, LONG length) {
  EXPECT_EQ(c.Put(kSelStart, I4(start)), S_OK);
  EXPECT_EQ(c.Put(kSelLength, I4(length)), S_OK);
}

TEST(Edit, SelectionStaysInsideTheText) {
  Component c;
  ASSERT_EQ(c.PutText(kText, "Hello world"), S_OK);
  EXPECT_EQ(c.GetI4(kSelStart), 0);
  EXPECT_EQ(c.GetI4(kSelLength), 0);

  Select(c, 6, 5);
  EXPECT_EQ(c.GetStr(kSelText), "world");
  Select(c, 6, 50);
  EXPECT_EQ(c.GetI4(kSelLength), 5) << "length clamped to what follows the start";
  Select(c, 99, 3);
  EXPECT_EQ(c.GetI4(kSelStart), 11);
  EXPECT_EQ(c.GetI4(kSelLength), 0);
  Select(c, -4, -2);
  EXPECT_EQ(c.GetI4(kSelStart), 0);
  EXPECT_EQ(c.GetI4(kSelLength), 0);

  Select(c, 4, 3);
  EXPECT_EQ(c.Put(kSelStart, I4(2)), S_OK);
  EXPECT_EQ(c.GetI4(kSelLength), 0) << "moving the start collapses the selection";

  EXPECT_EQ(c.Call(kSelectAll), S_OK);
  EXPECT_EQ(c.GetI4(kSelStart), 0);
  EXPECT_EQ(c.GetI4(kSelLength), 11);

  // A shorter text moves the caret to the start again.
  ASSERT_EQ(c.PutText(kText, "Hi"), S_OK);
  EXPECT_EQ(c.GetI4(kSelStart), 0);
  EXPECT_EQ(c.GetI4(kSelLength), 0);
  EXPECT_EQ(c.GetStr(kSelText), "");
}

TEST(Edit, SelTextReplacesTheSelection) {
  Component c;
  ASSERT_EQ(c.PutText(kText, "Hello world"), S_OK);
  Select(c, 6, 5);
  ASSERT_EQ(c.PutText(kSelText, "there"), S_OK);
  EXPECT_EQ(c.Text(), "Hello there");
  EXPECT_EQ(c.GetI4(kSelStart), 11) << "caret after the inserted text";
  EXPECT_EQ(c.GetI4(kSelLength), 0);
  ASSERT_EQ(c.PutText(kSelText, "!"), S_OK);
  EXPECT_EQ(c.Text(), "Hello there!");

  Select(c, 0, 6);
  EXPECT_EQ(c.Call(kClearSelection), S_OK);
  EXPECT_EQ(c.Text(), "there!");

  Select(c, 0, 5);
  VARIANT b = UI1('T');
  EXPECT_EQ(c.Call(kSetSelTextBuf, nullptr, &b, 1), S_OK);
  EXPECT_EQ(c.Text(), "T!");
  Select(c, 0, 1);
  VARIANT zero = UI1(0);
  EXPECT_EQ(c.Call(kSetSelTextBuf, nullptr, &zero, 1), S_OK);
  EXPECT_EQ(c.Text(), "!") << "byte 0 is an empty buffer: the selection goes";
}

TEST(Edit, GetSelTextBufCountsTheByteInTheSelection) {
  Component c;
  ASSERT_EQ(c.PutText(kText, "banana"), S_OK);
  Select(c, 1, 5);  // "anana"
  struct {
    BYTE b;
    LONG n;
    LONG expect;
  } cases[] = {{'a', 10, 3}, {'a', 2, 1}, {'n', 5, 2}, {'x', 5, 0}, {'a', 0, 0}};
  for (auto& k : cases) {
    VARIANT args[2] = {I4(k.n), UI1(k.b)};
    Variant r;
    EXPECT_EQ(c.Call(kGetSelTextBuf, &r, args, 2), S_OK);
    EXPECT_EQ(r.v.vt, VT_I4);
    EXPECT_EQ(r.v.lVal, k.expect) << k.b << " " << k.n;
  }
  VARIANT bad[2] = {I4(-1), UI1('a')};
  ExcepInfo ei;
  EXPECT_EQ(c.Call(kGetSelTextBuf, nullptr, bad, 2, &ei.e), E_INVALIDARG);
  EXPECT_FALSE(ei.description().empty());
}

TEST(Edit, ModifiedAndOneLevelUndo) {
  Component c;
  EXPECT_FALSE(c.GetBool(kModified));
  EXPECT_FALSE(c.GetBool(kCanUndo));
  EXPECT_EQ(c.Call(kUndo), S_OK) << "nothing to undo is no error";

  ASSERT_EQ(c.PutText(kText, "one"), S_OK);
  ASSERT_EQ(c.PutText(kText, "two"), S_OK);
  EXPECT_TRUE(c.GetBool(kModified));
  EXPECT_TRUE(c.GetBool(kCanUndo));
  EXPECT_EQ(c.Put(kModified, Bool(false)), S_OK);
  EXPECT_FALSE(c.GetBool(kModified));

  EXPECT_EQ(c.Call(kUndo), S_OK);
  EXPECT_EQ(c.Text(), "one") << "one level: the text before the last edit";
  EXPECT_TRUE(c.GetBool(kModified));
  EXPECT_EQ(c.Call(kUndo), S_OK);
  EXPECT_EQ(c.Text(), "two") << "undoing the undo redoes";

  EXPECT_EQ(c.Call(kClearUndo), S_OK);
  EXPECT_FALSE(c.GetBool(kCanUndo));
  EXPECT_EQ(c.Call(kUndo), S_OK);
  EXPECT_EQ(c.Text(), "two");

  EXPECT_EQ(c.Call(kClear), S_OK);
  EXPECT_EQ(c.Text(), "");
  EXPECT_EQ(c.Call(kUndo), S_OK);
  EXPECT_EQ(c.Text(), "two") << "Clear is undoable";
}

TEST(Edit, ClipboardIsSharedByTheProcess) {
  Component a, b;
  ASSERT_EQ(a.PutText(kText, "copy me"), S_OK);
  Select(a, 0, 4);
  EXPECT_EQ(a.Call(kCopy), S_OK);
  EXPECT_EQ(a.Text(), "copy me");

  ASSERT_EQ(b.PutText(kText, "[]"), S_OK);
  Select(b, 1, 0);
  EXPECT_EQ(b.Call(kPaste), S_OK);
  EXPECT_EQ(b.Text(), "[copy]");

  Select(a, 4, 3);
  EXPECT_EQ(a.Call(kCut), S_OK);
  EXPECT_EQ(a.Text(), "copy");
  Select(b, 0, 6);
  EXPECT_EQ(b.Call(kPaste), S_OK);
  EXPECT_EQ(b.Text(), " me");

  // Copy and Cut with nothing selected leave the clipboard alone.
  Select(a, 2, 0);
  EXPECT_EQ(a.Call(kCopy), S_OK);
  EXPECT_EQ(a.Call(kCut), S_OK);
  EXPECT_EQ(a.Text(), "copy");
  Select(b, 3, 0);
  EXPECT_EQ(b.Call(kPaste), S_OK);
  EXPECT_EQ(b.Text(), " me me");
}

TEST(Edit, CharCaseConvertsTextAndInput) {
  Component c;
  ASSERT_EQ(c.PutText(kText, "Mixed Case"), S_OK);
  EXPECT_EQ(c.Put(kCharCase, I4(1)), S_OK);
  EXPECT_EQ(c.Text(), "MIXED CASE");
  ASSERT_EQ(c.PutText(kText, "abc"), S_OK);
  EXPECT_EQ(c.Text(), "ABC");
  EXPECT_EQ(c.Put(kCharCase, I4(2)), S_OK);
  EXPECT_EQ(c.Text(), "abc");
  Select(c, 3, 0);
  ASSERT_EQ(c.PutText(kSelText, "DEF"), S_OK);
  EXPECT_EQ(c.Text(), "abcdef");
  EXPECT_EQ(c.Put(kCharCase, I4(0)), S_OK);
  ASSERT_EQ(c.PutText(kText, "MiXeD"), S_OK);
  EXPECT_EQ(c.Text(), "MiXeD") << "normal case keeps the text as given";

  // Letters beyond ASCII: Latin-1, Greek, Cyrillic.
  EXPECT_EQ(c.Put(kCharCase, I4(1)), S_OK);
  BstrArg accented(OleString{0xE9, 0x3B1, 0x436, 'z', 0xDF});
  ASSERT_EQ(c.Put(kText, accented.v), S_OK);
  Variant r;
  ASSERT_EQ(c.Get(kText, &r), S_OK);
  EXPECT_EQ(OleString(r.v.bstrVal, SysStringLen(r.v.bstrVal)),
            (OleString{0xC9, 0x391, 0x416, 'Z', 0xDF}));
}

TEST(Edit, ReadOnlyRefusesEveryEdit) {
  Component c;
  ASSERT_EQ(c.PutText(kText, "fixed"), S_OK);
  Select(c, 0, 2);
  EXPECT_EQ(c.Call(kCopy), S_OK);
  ASSERT_EQ(c.Put(kReadOnly, Bool(true)), S_OK);
  EXPECT_TRUE(c.GetBool(kReadOnly));

  struct Attempt {
    const char* what;
    std::function<HRESULT(EXCEPINFO*)> run;
  };
  VARIANT byte = UI1('x');
  Attempt attempts[] = {
      {"setText", [&](EXCEPINFO* ei) { return c.PutText(kText, "new", ei); }},
      {"setSelText", [&](EXCEPINFO* ei) { return c.PutText(kSelText, "new", ei); }},
      {"Clear", [&](EXCEPINFO* ei) { return c.Call(kClear, nullptr, nullptr, 0, ei); }},
      {"ClearSelection",
       [&](EXCEPINFO* ei) { return c.Call(kClearSelection, nullptr, nullptr, 0, ei); }},
      {"Cut", [&](EXCEPINFO* ei) { return c.Call(kCut, nullptr, nullptr, 0, ei); }},
      {"Paste", [&](EXCEPINFO* ei) { return c.Call(kPaste, nullptr, nullptr, 0, ei); }},
      {"Undo", [&](EXCEPINFO* ei) { return c.Call(kUndo, nullptr, nullptr, 0, ei); }},
      {"SetSelTextBuf",
       [&](EXCEPINFO* ei) { return c.Call(kSetSelTextBuf, nullptr, &byte, 1, ei); }},
  };
  for (Attempt& a : attempts) {
    SCOPED_TRACE(a.what);
    ExcepInfo ei;
    EXPECT_EQ(a.run(&ei.e), E_ACCESSDENIED);
    EXPECT_EQ(ei.e.wCode, 0);
    EXPECT_EQ(ei.e.scode, E_ACCESSDENIED);
    EXPECT_EQ(ei.source(), "ScanMontura");
    EXPECT_EQ(ei.description(), "The control is read-only");
    EXPECT_EQ(a.run(nullptr), E_ACCESSDENIED);
    EXPECT_EQ(c.Text(), "fixed");
  }
  EXPECT_EQ(c.Call(kCopy), S_OK) << "copying does not edit";
  EXPECT_EQ(c.Call(kSelectAll), S_OK);

  ASSERT_EQ(c.Put(kReadOnly, Bool(false)), S_OK);
  EXPECT_EQ(c.PutText(kText, "free"), S_OK);
  EXPECT_EQ(c.Text(), "free");
}

TEST(Edit, MaxLengthLimitsNewText) {
  Component c;
  ASSERT_EQ(c.Put(kMaxLength, I4(5)), S_OK);
  ASSERT_EQ(c.PutText(kText, "abcdefgh"), S_OK);
  EXPECT_EQ(c.Text(), "abcde");
  Select(c, 5, 0);
  ASSERT_EQ(c.PutText(kSelText, "xyz"), S_OK);
  EXPECT_EQ(c.Text(), "abcde") << "no room left";
  Select(c, 1, 2);
  ASSERT_EQ(c.PutText(kSelText, "1234"), S_OK);
  EXPECT_EQ(c.Text(), "a12de") << "only what fits in place of the selection";

  // Lowering the limit keeps the text; 0 lifts it.
  ASSERT_EQ(c.Put(kMaxLength, I4(2)), S_OK);
  EXPECT_EQ(c.Text(), "a12de");
  ASSERT_EQ(c.Put(kMaxLength, I4(0)), S_OK);
  ASSERT_EQ(c.PutText(kText, "a much longer text than five"), S_OK);
  EXPECT_EQ(c.Text(), "a much longer text than five");

  ExcepInfo ei;
  EXPECT_EQ(c.Put(kMaxLength, I4(-1), &ei.e), E_INVALIDARG);
  EXPECT_NE(ei.description().find("MaxLength"), std::string::npos);
}

}  // namespace
