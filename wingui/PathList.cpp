#include "wingui/PathList.h"

int PathList::Count() const { return int(SendMessageW(hwnd(), LB_GETCOUNT, 0, 0)); }

std::wstring PathList::At(int index) const {
  LRESULT length = SendMessageW(hwnd(), LB_GETTEXTLEN, index, 0);
  if (length == LB_ERR) throw ListBoxError(ListBoxError::Kind::NoSuchIndex, index);
  std::wstring text(length + 1, L'\0');
  length = SendMessageW(hwnd(), LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(length == LB_ERR ? 0 : length);
  return text;
}

std::vector<std::wstring> PathList::Items() const {
  std::vector<std::wstring> items;
  int n = Count();
  items.reserve(n);
  for (int i = 0; i < n; ++i) items.push_back(At(i));
  return items;
}

void PathList::Append(const std::wstring& path) {
  LRESULT at = SendMessageW(hwnd(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
  if (at == LB_ERR || at == LB_ERRSPACE) throw ListBoxError(ListBoxError::Kind::InsertRefused, int(at));
  index_.Add(path);
}

bool PathList::AppendNew(const std::wstring& path) {
  if (Contains(path)) return false;
  Append(path);
  return true;
}

void PathList::RemoveSelected() {
  LRESULT selected = SendMessageW(hwnd(), LB_GETCURSEL, 0, 0);
  if (selected == LB_ERR) return;
  index_.Remove(At(int(selected)));
  SendMessageW(hwnd(), LB_DELETESTRING, selected, 0);
  SendMessageW(hwnd(), LB_SETCURSEL, WPARAM(-1), 0);
}

void PathList::Clear() {
  SendMessageW(hwnd(), LB_RESETCONTENT, 0, 0);
  index_.Clear();
}

void PathList::RepaintThrottled(bool force) {
  DWORD now = GetTickCount();
  if (!force && now - lastPaint_ < 50) return;
  lastPaint_ = now;
  if (bulkDepth_ > 0) SendMessageW(hwnd(), WM_SETREDRAW, TRUE, 0);
  RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
  if (bulkDepth_ > 0) SendMessageW(hwnd(), WM_SETREDRAW, FALSE, 0);
}

PathList::Bulk::Bulk(PathList& list) : list_(list) {
  if (list_.bulkDepth_++ == 0) SendMessageW(list_.hwnd(), WM_SETREDRAW, FALSE, 0);
}

PathList::Bulk::~Bulk() {
  if (--list_.bulkDepth_ == 0) {
    SendMessageW(list_.hwnd(), WM_SETREDRAW, TRUE, 0);
    list_.RepaintThrottled(true);
  }
}

void PathList::Reserve(int n) {
  if (n <= 0) return;
  SendMessageW(hwnd(), LB_INITSTORAGE, n, LPARAM(n) * 64);
  index_.Reserve(size_t(Count() + n));
}
