// The folder chooser: a shell folder tree and the options that say how
// much of the tree below the chosen folder to add.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "wingui/Controls.h"
#include "wingui/Window.h"
#include "app/ShellTree.h"

// What the chooser returns: a file-system folder (ending with "\") and how
// much of the tree below it to add.
struct FolderChoice {
  enum class Scope { Alone, AllSubfolders, Levels };
  std::wstring folder;
  Scope scope = Scope::Alone;
  std::wstring depth;  // for Scope::Levels, as typed
  // The levels of Scope::Levels (may be negative). Throws AppError when the
  // depth is no number.
  int Levels() const;
};

// The chooser's controls, one row each in its table in FolderChooser.cpp.
struct ChooserControls {
  ShellTree tree;
  CheckBox allSubfolders, levels;
  Control depth;  // a drop-down combo box: the levels, picked or typed
  Control levelsLabel;
  Button ok, cancel;
};

class FolderChooser : public Form {
 public:
  FolderChooser() = default;
  ~FolderChooser() override;
  void Create(HWND owner);

  // Shows the chooser modally. Empty when cancelled, or when the chosen item
  // is no file-system place; whether the folder exists is the caller's to
  // ask, beside the window, since the volume may be slow to answer.
  std::optional<FolderChoice> Choose();

  // For window tests, which drive the chooser with messages: its controls.
  ChooserControls& Controls() { return ui_; }

 private:
  std::vector<ControlDef> ControlTable();
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDpiChanged() override { DrawGlyphs(); }
  void OnShow();
  void OnAllSubfoldersClick();
  void OnLevelsClick();
  // Sets a check box as a user's click would, running its click handler.
  void SetCheckBox(const CheckBox& box, bool checked);
  void DrawGlyphs();  // the OK and Cancel glyphs for the window's DPI

  ChooserControls ui_;
  HIMAGELIST glyphs_[2] = {};  // the buttons show them but do not own them
};
