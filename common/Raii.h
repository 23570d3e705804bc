// Owners that release on every way out: a scope guard, COM pointers and GDI
// objects.
#pragma once
#include <windows.h>
#include <ole2.h>
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

// Owns memory the shell or COM handed over (an item ID list, a string):
// freed with CoTaskMemFree exactly once.
template <typename T>
class CoTaskMem {
 public:
  CoTaskMem() = default;
  explicit CoTaskMem(T* p) : p_(p) {}
  CoTaskMem(CoTaskMem&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  CoTaskMem& operator=(CoTaskMem&& o) noexcept {
    if (this != &o) {
      CoTaskMemFree(p_);
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  CoTaskMem(const CoTaskMem&) = delete;
  CoTaskMem& operator=(const CoTaskMem&) = delete;
  ~CoTaskMem() { CoTaskMemFree(p_); }
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For an out-parameter: frees what is held first.
  T** Put() {
    CoTaskMemFree(std::exchange(p_, nullptr));
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

// OLE on this thread for the life of the object (the browser and the shell
// folder tree need a single-threaded apartment).
class OleSession {
 public:
  OleSession() : ok_(SUCCEEDED(OleInitialize(nullptr))) {}
  ~OleSession() {
    if (ok_) OleUninitialize();
  }
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;

 private:
  bool ok_;
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
