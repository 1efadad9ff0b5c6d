// Text, selection, undo and clipboard of the simulated edit control.
//
// Not thread-safe by itself: the component calls it under its own lock.
// Every operation that would change the text reports what happened, so that
// the caller can refuse it (read-only) or announce it (OnChange).
#pragma once

#include "com_util.h"

namespace sim {

enum class EditResult {
  kChanged,    // the text changed
  kUnchanged,  // accepted, the text stayed as it was
  kReadOnly,   // refused: the control is read-only
};

enum CharCase { kNormalCase = 0, kUpperCase = 1, kLowerCase = 2 };

class EditControl {
 public:
  const OleString& text() const { return text_; }
  int selStart() const { return selStart_; }
  int selLength() const { return selLength_; }
  OleString selText() const { return text_.substr(selStart_, selLength_); }
  bool modified() const { return modified_; }
  void setModified(bool m) { modified_ = m; }
  bool canUndo() const { return canUndo_; }
  int maxLength() const { return maxLength_; }
  void setMaxLength(int n) { maxLength_ = n; }  // existing text is kept, as an edit control does
  bool readOnly() const { return readOnly_; }
  void setReadOnly(bool r) { readOnly_ = r; }
  int charCase() const { return charCase_; }

  // Edits: refused when read-only; each one sets Modified and becomes the
  // one undoable step.
  EditResult SetText(const OleString& text);        // caret to 0, nothing selected
  EditResult ReplaceSelection(const OleString& s);  // caret after the inserted text
  EditResult Clear();
  EditResult ClearSelection();
  EditResult Cut();
  EditResult Paste();
  // Undo swaps the text with the one before the last edit, so a second Undo
  // redoes it (one level, as a Windows edit control).
  EditResult Undo();
  // One typed key: backspace (8) deletes, other control characters do
  // nothing, a printable character replaces the selection when MaxLength
  // leaves room. `firstOfRun` makes it the start of a new undoable step.
  EditResult TypeKey(OLECHAR key, bool firstOfRun);

  void Copy() const;
  void ClearUndo() {
    canUndo_ = false;
    undoText_.clear();
  }
  void SelectAll();
  void SetSelStart(int start);    // clamped to the text; selects nothing
  void SetSelLength(int length);  // clamped to what follows SelStart
  // Converts the text when the new case is upper or lower; true when it changed.
  bool SetCharCase(int charCase);
  // Status lines the tracer writes: neither ReadOnly nor MaxLength applies, the
  // undo step is dropped and Modified stays as it is. True when the text changed.
  bool SetDeviceText(const OleString& text);
  // How many of the first n selected characters equal c.
  int CountInSelection(OLECHAR c, int n) const;

  // The process-wide clipboard that Cut, Copy and Paste share.
  static OleString ClipboardText();
  static void SetClipboardText(const OleString& text);

 private:
  OleString Cased(OleString s) const;
  void Remember();  // saves the text as the undo step, sets Modified
  OleString FitInsert(const OleString& s) const;

  OleString text_;
  int selStart_ = 0;
  int selLength_ = 0;
  bool modified_ = false;
  bool canUndo_ = false;
  OleString undoText_;
  int maxLength_ = 0;
  bool readOnly_ = false;
  int charCase_ = kNormalCase;
};

// Case mapping for ASCII, Latin-1, Greek and Cyrillic letters (locale-free).
OLECHAR ToUpperChar(OLECHAR c);
OLECHAR ToLowerChar(OLECHAR c);

}  // namespace sim
