// Owners that release on every way out: a scope guard, COM pointers and GDI
// objects.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <utility>

// Runs the action when the scope ends, however it ends.
template <typename F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F action) : action_(std::move(action)) {}
  ~ScopeGuard() { action_(); }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

 private:
  F action_;
};

// Holds one reference to a COM object.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr& operator=(ComPtr o) {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For functions that hand out a new reference.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  // Takes over a reference the caller already holds (a fresh `new` object).
  void Adopt(T* p) {
    Reset();
    p_ = p;
  }

 private:
  T* p_ = nullptr;
};

// Deletes a GDI object (pen, brush, bitmap, font) when it goes.
class GdiObject {
 public:
  explicit GdiObject(HGDIOBJ object) : object_(object) {}
  ~GdiObject() {
    if (object_) DeleteObject(object_);
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  HGDIOBJ get() const { return object_; }

 private:
  HGDIOBJ object_;
};

// Selects an object into a device context for the life of the object.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selected() { SelectObject(dc_, previous_); }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};
