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

class FolderChooser : public Form {
 public:
  FolderChooser() = default;
  ~FolderChooser() override;
  void Create(HWND owner);

  // Shows the chooser modally. Empty when cancelled, or when the chosen item
  // is no file-system place; whether the folder exists is the caller's to
  // ask, beside the window, since the volume may be slow to answer.
  std::optional<FolderChoice> Choose();

  void OnShow();
  void OnAllSubfoldersClick();  // 添加包括选定文件夹下的所有子文件夹
  void OnLevelsClick();         // 添加包括选定文件夹下 N 级子目录
  void OnOk();                  // 确定
  void OnCancel();              // 取消
  // False when the typed character is discarded.
  static bool AcceptsDepthKey(wchar_t key);

  ShellTree& Tree() { return tree_; }
  // Sets a check box as a user's click would, running its click handler.
  void SetCheckBox(CheckBox& box, bool checked);
  CheckBox& AllSubfoldersBox() { return allSubfolders_; }
  CheckBox& LevelsBox() { return levels_; }

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDpiChanged() override { DrawGlyphs(); }

 private:
  void DrawGlyphs();  // the OK and Cancel glyphs for the window's DPI

  ShellTree tree_;
  CheckBox allSubfolders_, levels_;
  HWND depthBox_ = nullptr, okButton_ = nullptr, cancelButton_ = nullptr;
  HIMAGELIST glyphs_[2] = {};  // the buttons show them but do not own them
};
