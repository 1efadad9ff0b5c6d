#include "edit_control.h"

#include "sync.h"

#include <algorithm>

namespace sim {

OLECHAR ToUpperChar(OLECHAR c) {
  unsigned u = c;
  if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7) ||
      (u >= 0x3B1 && u <= 0x3C9 && u != 0x3C2) || (u >= 0x430 && u <= 0x44F))
    return static_cast<OLECHAR>(u - 0x20);
  if (u == 0xFF) return static_cast<OLECHAR>(0x178);
  if (u == 0x3C2) return static_cast<OLECHAR>(0x3A3);  // final sigma
  if (u >= 0x450 && u <= 0x45F) return static_cast<OLECHAR>(u - 0x50);
  return c;
}

OLECHAR ToLowerChar(OLECHAR c) {
  unsigned u = c;
  if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7) ||
      (u >= 0x391 && u <= 0x3A9 && u != 0x3A2) || (u >= 0x410 && u <= 0x42F))
    return static_cast<OLECHAR>(u + 0x20);
  if (u == 0x178) return static_cast<OLECHAR>(0xFF);
  if (u >= 0x400 && u <= 0x40F) return static_cast<OLECHAR>(u + 0x50);
  return c;
}

namespace {

Mutex& ClipboardMutex() {
  static Mutex mu;
  return mu;
}

OleString& Clipboard() {
  static OleString text;
  return text;
}

int Len(const OleString& s) { return static_cast<int>(s.size()); }

}  // namespace

OleString EditControl::ClipboardText() {
  Lock lock(ClipboardMutex());
  return Clipboard();
}

void EditControl::SetClipboardText(const OleString& text) {
  Lock lock(ClipboardMutex());
  Clipboard() = text;
}

OleString EditControl::Cased(OleString s) const {
  if (charCase_ == kUpperCase) std::transform(s.begin(), s.end(), s.begin(), ToUpperChar);
  if (charCase_ == kLowerCase) std::transform(s.begin(), s.end(), s.begin(), ToLowerChar);
  return s;
}

void EditControl::Remember() {
  undoText_ = text_;
  canUndo_ = true;
  modified_ = true;
}

OleString EditControl::FitInsert(const OleString& s) const {
  OleString cased = Cased(s);
  if (maxLength_ > 0) {
    int room = std::max(0, maxLength_ - (Len(text_) - selLength_));
    if (Len(cased) > room) cased.resize(static_cast<size_t>(room));
  }
  return cased;
}

EditResult EditControl::SetText(const OleString& text) {
  if (readOnly_) return EditResult::kReadOnly;
  OleString next = Cased(text);
  if (maxLength_ > 0 && Len(next) > maxLength_) next.resize(static_cast<size_t>(maxLength_));
  selStart_ = 0;
  selLength_ = 0;
  if (next == text_) return EditResult::kUnchanged;
  Remember();
  text_ = next;
  return EditResult::kChanged;
}

EditResult EditControl::ReplaceSelection(const OleString& s) {
  if (readOnly_) return EditResult::kReadOnly;
  OleString insert = FitInsert(s);
  if (insert.empty() && selLength_ == 0) return EditResult::kUnchanged;
  OleString next = text_;
  next.replace(static_cast<size_t>(selStart_), static_cast<size_t>(selLength_), insert);
  selStart_ += Len(insert);
  selLength_ = 0;
  if (next == text_) return EditResult::kUnchanged;
  Remember();
  text_ = next;
  return EditResult::kChanged;
}

EditResult EditControl::Clear() {
  if (readOnly_) return EditResult::kReadOnly;
  selStart_ = 0;
  selLength_ = 0;
  if (text_.empty()) return EditResult::kUnchanged;
  Remember();
  text_.clear();
  return EditResult::kChanged;
}

EditResult EditControl::ClearSelection() {
  if (readOnly_) return EditResult::kReadOnly;
  return ReplaceSelection(OleString());
}

EditResult EditControl::Cut() {
  if (readOnly_) return EditResult::kReadOnly;
  if (selLength_ == 0) return EditResult::kUnchanged;
  Copy();
  return ReplaceSelection(OleString());
}

EditResult EditControl::Paste() {
  if (readOnly_) return EditResult::kReadOnly;
  return ReplaceSelection(ClipboardText());
}

EditResult EditControl::Undo() {
  if (readOnly_) return EditResult::kReadOnly;
  if (!canUndo_) return EditResult::kUnchanged;
  OleString restored = Cased(undoText_);
  undoText_ = text_;
  modified_ = true;
  selStart_ = Len(restored);
  selLength_ = 0;
  if (restored == text_) return EditResult::kUnchanged;
  text_ = restored;
  return EditResult::kChanged;
}

EditResult EditControl::TypeKey(OLECHAR key, bool firstOfRun) {
  if (readOnly_) return EditResult::kReadOnly;
  OleString next = text_;
  int caret = selStart_;
  if (key == 8) {
    if (selLength_ > 0) {
      next.erase(static_cast<size_t>(selStart_), static_cast<size_t>(selLength_));
    } else if (selStart_ > 0) {
      next.erase(static_cast<size_t>(selStart_ - 1), 1);
      caret = selStart_ - 1;
    } else {
      return EditResult::kUnchanged;
    }
  } else if (key < 32) {
    return EditResult::kUnchanged;
  } else {
    OleString insert = FitInsert(OleString(1, key));
    if (insert.empty()) return EditResult::kUnchanged;
    next.replace(static_cast<size_t>(selStart_), static_cast<size_t>(selLength_), insert);
    caret = selStart_ + Len(insert);
  }
  if (firstOfRun) Remember();
  modified_ = true;
  text_ = next;
  selStart_ = caret;
  selLength_ = 0;
  return EditResult::kChanged;
}

void EditControl::Copy() const {
  if (selLength_ > 0) SetClipboardText(selText());
}

void EditControl::SelectAll() {
  selStart_ = 0;
  selLength_ = Len(text_);
}

void EditControl::SetSelStart(int start) {
  selStart_ = std::clamp(start, 0, Len(text_));
  selLength_ = 0;
}

void EditControl::SetSelLength(int length) {
  selLength_ = std::clamp(length, 0, Len(text_) - selStart_);
}

bool EditControl::SetCharCase(int charCase) {
  charCase_ = charCase;
  OleString next = Cased(text_);
  if (next == text_) return false;
  text_ = next;
  return true;
}

bool EditControl::SetDeviceText(const OleString& text) {
  OleString next = Cased(text);
  selStart_ = 0;
  selLength_ = 0;
  ClearUndo();
  if (next == text_) return false;
  text_ = next;
  return true;
}

int EditControl::CountInSelection(OLECHAR c, int n) const {
  int count = 0;
  int limit = std::min(n, selLength_);
  for (int i = 0; i < limit; ++i)
    if (text_[static_cast<size_t>(selStart_) + static_cast<size_t>(i)] == c) ++count;
  return count;
}

}  // namespace sim
