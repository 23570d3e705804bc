#include "app/HelpTab.h"

#include <exdisp.h>
#include <exdispid.h>
#include <ole2.h>

#include "Version.h"
#include "app/Texts.h"
#include "wingui/Window.h"

// The publisher's help host; the path and query are fixed.
static const wchar_t kHelpHost[] = L"www.quillmere.example";

std::wstring HelpPageAddress() { return std::wstring(L"http://") + kHelpHost + L"/soft/Tandrel.asp?ver=" QM_VERSION_W; }

// A minimal OLE container for the browser control: client site, in-place
// site and frame, and the sink for the browser's events.
class BrowserSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame, public IDispatch {
 public:
  BrowserSite(HWND host, HelpView* view) : host_(host), view_(view) {}
  void Detach() { view_ = nullptr; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IOleInPlaceFrame || riid == IID_IOleInPlaceUIWindow)
      *out = static_cast<IOleInPlaceFrame*>(this);
    else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2)
      *out = static_cast<IDispatch*>(this);
    else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (shared by the site and the frame)
  STDMETHODIMP GetWindow(HWND* window) override {
    *window = host_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    GetClientRect(host_, pos);
    GetClientRect(host_, clip);
    info->fMDIApp = FALSE;
    info->hwndFrame = GetAncestor(host_, GA_ROOT);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow / IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDispatch: DWebBrowserEvents2
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    if (!view_) return S_OK;
    if (id == DISPID_NAVIGATEERROR) view_->OnNavigateError();
    if (id == DISPID_DOCUMENTCOMPLETE) view_->OnDocumentComplete();
    return S_OK;
  }

 private:
  ULONG refs_ = 1;
  HWND host_;
  HelpView* view_;
};

namespace {

ComPtr<IWebBrowser2> CreateBrowser(BrowserSite* site, HWND host) {
  ComPtr<IOleObject> object;
  ComPtr<IWebBrowser2> browser;
  if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, object.PutVoid())))
    return browser;
  object->SetClientSite(site);
  RECT rect;
  GetClientRect(host, &rect);
  object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, host, &rect);
  object->QueryInterface(IID_IWebBrowser2, browser.PutVoid());
  if (browser) browser->put_Silent(VARIANT_TRUE);
  return browser;
}

// Connects the site to the browser's events; the point and cookie undo it.
ComPtr<IConnectionPoint> ListenTo(IWebBrowser2* browser, BrowserSite* site, DWORD* cookie) {
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  if (FAILED(browser->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()))) return point;
  if (FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Put()))) return point;
  if (FAILED(point->Advise(static_cast<IDispatch*>(site), cookie))) point.Reset();
  return point;
}

}  // namespace

HelpView::HelpView(HWND page, UINT dpi) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  container_ = CreateWindowExW(0, kPanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 4, 4, 100, 100, page,
                               nullptr, instance, nullptr);
  browserHost_ = CreateWindowExW(0, kPanelClass, L"", WS_CHILD | WS_CLIPCHILDREN, 0, 0, 100, 100, container_, nullptr,
                                 instance, nullptr);
  tips_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", kHelpTips,
                          WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0, 100,
                          100, container_, nullptr, instance, nullptr);
  SendMessageW(tips_, WM_SETFONT, WPARAM(SongFont(dpi)), FALSE);
  site_.Adopt(new BrowserSite(browserHost_, this));
  browser_ = CreateBrowser(site_.get(), browserHost_);
  if (browser_) events_ = ListenTo(browser_.get(), site_.get(), &cookie_);
  failed_ = !browser_;
}

HelpView::~HelpView() {
  site_->Detach();
  if (events_) events_->Unadvise(cookie_);
  if (!browser_) return;
  browser_->Stop();
  ComPtr<IOleObject> object;
  if (SUCCEEDED(browser_->QueryInterface(IID_IOleObject, object.PutVoid()))) {
    object->Close(OLECLOSE_NOSAVE);
    object->SetClientSite(nullptr);
  }
}

void HelpView::Navigate(const std::wstring& address) {
  if (!browser_) return;
  BSTR url = SysAllocString(address.c_str());
  ScopeGuard freeUrl([url] { SysFreeString(url); });
  VARIANT empty;
  VariantInit(&empty);
  if (FAILED(browser_->Navigate(url, &empty, &empty, &empty, &empty))) failed_ = true;
}

void HelpView::OnNavigateError() { failed_ = true; }

void HelpView::OnDocumentComplete() {
  // An error page completes too: only a page that loaded replaces the tips.
  if (failed_ || pageShown_) return;
  pageShown_ = true;
  ShowWindow(browserHost_, SW_SHOW);
  ShowWindow(tips_, SW_HIDE);
}

void HelpView::Resize(int x, int y, int width, int height) {
  MoveWindow(container_, x, y, width, height, TRUE);
  Layout();
}

void HelpView::SetDpi(UINT dpi) { SendMessageW(tips_, WM_SETFONT, WPARAM(SongFont(dpi)), TRUE); }

void HelpView::Layout() {
  RECT rect;
  GetClientRect(container_, &rect);
  MoveWindow(browserHost_, 0, 0, rect.right, rect.bottom, TRUE);
  MoveWindow(tips_, 0, 0, rect.right, rect.bottom, TRUE);
  if (!browser_) return;
  ComPtr<IOleInPlaceObject> inPlace;
  if (SUCCEEDED(browser_->QueryInterface(IID_IOleInPlaceObject, inPlace.PutVoid())))
    inPlace->SetObjectRects(&rect, &rect);
}
