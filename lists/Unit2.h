// The folder chooser: a shell folder tree and the options that say how
// much of the tree below the chosen folder to add.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "common/Controls.h"
#include "common/Window.h"
#include "lists/ShellTree.h"

// What the chooser returns: a file-system folder (ending with "\") and how
// much of the tree below it to add.
struct FolderChoice {
  enum class Scope { Alone, AllSubfolders, Levels };
  std::wstring folder;
  Scope scope = Scope::Alone;
  int levels = 0;  // for Scope::Levels, as typed (may be negative)
};

class TForm2 : public Form {
 public:
  TForm2() = default;
  ~TForm2() override;
  void Create(HWND owner);

  // Shows the chooser modally. Empty when cancelled, or when the chosen item
  // is no existing file-system folder. Throws AppError when the levels are
  // asked for and the depth text is no number.
  std::optional<FolderChoice> Choose();

  void FormShow();
  void CheckBox1Click();  // 添加包括选定文件夹下的所有子文件夹
  void CheckBox2Click();  // 添加包括选定文件夹下 N 级子目录
  void BitBtn1Click();    // 确定
  void BitBtn2Click();    // 取消
  // False when the typed character is discarded.
  static bool ComboBox1KeyPress(wchar_t key);

  ShellTree& Tree() { return tree_; }
  // Sets a check box as a user's click would, running its click handler.
  void SetCheckBox(CheckBox& box, bool checked);
  CheckBox& AllSubfoldersBox() { return checkBox1_; }
  CheckBox& LevelsBox() { return checkBox2_; }

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDpiChanged() override { DrawGlyphs(); }

 private:
  void DrawGlyphs();  // the OK and Cancel glyphs for the window's DPI

  ShellTree tree_;
  CheckBox checkBox1_, checkBox2_;
  HWND comboBox1_ = nullptr, okButton_ = nullptr, cancelButton_ = nullptr;
  HIMAGELIST glyphs_[2] = {};  // the buttons show them but do not own them
};
