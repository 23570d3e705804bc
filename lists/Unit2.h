// The folder chooser: a shell folder tree and the options that say how
// much of the tree below the chosen folder to add.
#pragma once
#include <windows.h>

#include <string>

#include "common/Window.h"
#include "lists/ShellTree.h"

class TForm2 : public Form {
 public:
  TForm2();
  ~TForm2() override;
  void Create(HWND owner);

  void FormShow();
  void CheckBox1Click();
  void CheckBox2Click();
  // False when the typed character is discarded.
  static bool ComboBox1KeyPress(wchar_t key);

  std::wstring SelectedFolderPath() const { return tree_.SelectedFolderPath(); }
  bool SelectedIsVirtual() const { return tree_.SelectedIsVirtual(); }
  bool AllSubfolders() const { return IsChecked(Control(L"CheckBox1")); }
  bool Levels() const { return IsChecked(Control(L"CheckBox2")); }
  std::wstring DepthText() const { return WindowText(Control(L"ComboBox1")); }
  ShellTree& Tree() { return tree_; }
  // Sets a check box as a user's click would, running its click handler.
  void SetCheckBox(const wchar_t* name, bool checked);

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  bool OnControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  ShellTree tree_;
};

extern TForm2* Form2;
