#pragma once
// What the stand-in's three parts share: the COM object plumbing, the fault switch and the
// task store's few internal calls. Not for tests: they use TaskSchedulerStandIn.h.
#include "standin/taskscheduler/TaskSchedulerStandIn.h"

#include <memory>
#include <string>

namespace standin {

// Objects alive now, for liveObjects().
inline LONG live = 0;

// A fault set for this call, or S_OK; ends the process for kEndTheProcess.
HRESULT fault(const wchar_t* call);
// Whether the service counts as stopped.
bool stopped();
// Removes one task from the store; false when there was none.
bool removeTask(const std::wstring& name);
// Counts one registration or deletion made for a client.
void countServiceWrite();

using TaskPtr = std::shared_ptr<Task>;
// A new definition editing task, and the task behind a definition this stand-in made (null
// for any other object).
ITaskDefinition* newDefinition(TaskPtr task);
const Task* definedTask(ITaskDefinition* definition);

inline HRESULT copyOut(const std::wstring& value, BSTR* out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = SysAllocString(value.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

inline HRESULT putBool(bool& target, VARIANT_BOOL value)
{
    target = value != VARIANT_FALSE;
    return S_OK;
}

template <typename T>
HRESULT getValue(T value, T* out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = value;
    return S_OK;
}

inline HRESULT getBool(bool value, VARIANT_BOOL* out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

#define FAULT(call)                          \
    if (HRESULT injected = fault(L##call)) { \
        return injected;                     \
    }
#define NOT_USED(name, params) \
    HRESULT STDMETHODCALLTYPE name params override { return E_NOTIMPL; }

// IDispatch plumbing shared by every object; none of them is scriptable.
template <class Interface>
class Object : public Interface {
public:
    Object() { InterlockedIncrement(&live); }
    virtual ~Object() { InterlockedDecrement(&live); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

private:
    LONG references_ = 1;
};

// Hands a new object out through an interface pointer, the caller owning the one reference.
template <class Interface>
HRESULT handOut(Interface* object, Interface** out)
{
    if (out == nullptr) {
        object->Release();
        return E_POINTER;
    }
    *out = object;
    return S_OK;
}

// A collection's size, and its index-th item (counting from 1, as the real collections do),
// made by make(position from 0) and handed out.
inline HRESULT countOut(size_t count, LONG* out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = static_cast<LONG>(count);
    return S_OK;
}

template <class Interface, class Make>
HRESULT itemOut(const wchar_t* call, LONG index, size_t count, Interface** out, Make make)
{
    if (out != nullptr) {
        *out = nullptr;
    }
    if (HRESULT injected = fault(call)) {
        return injected;
    }
    if (index < 1 || static_cast<size_t>(index) > count) {
        return E_INVALIDARG;
    }
    return handOut<Interface>(make(static_cast<size_t>(index) - 1), out);
}

}  // namespace standin
