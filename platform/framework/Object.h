#pragma once
// The object root of every configuration object, container, message and exception, and the
// macros that give a class its run-time class record.
//
// A class that derives from CObject declares its record with one macro first in its class body
// and defines it with one macro in its .cpp:
//
//     class CUser : public CFilterComponent {
//         DECLARE_SERIAL(CUser)                      // leaves the class body in `public:`
//     public: ...
//         void Serialize(CArchive& ar) override;
//     };
//     IMPLEMENT_SERIAL(CUser, CLockableObject, 1)    // name "CUser", run-time base, schema
//
//   DECLARE_DYNAMIC / IMPLEMENT_DYNAMIC(cls, base)      run-time checks only: not creatable,
//                                                       not registered, never in a stream
//   DECLARE_DYNCREATE / IMPLEMENT_DYNCREATE(cls, base)  created by name, schema 0xFFFF, so
//                                                       never in a stream (X1Socket)
//   DECLARE_SERIAL / IMPLEMENT_SERIAL(cls, base, schema) created by name and by the archive
//
// The creatable forms need a default constructor reachable from the class itself. The
// declaring macros add `GetRuntimeClass() ... override`; a class that uses them marks its other
// overrides `override` too (clang warns otherwise). RUNTIME_CLASS(cls) is the record's address,
// a constant expression; cls::ThisClass() is the same for templates.
//
// Exceptions of this library derive from CException (platform/framework/Exception.h).

#include "platform/framework/RuntimeClass.h"

#include <atomic>
#include <cstddef>
#include <utility>

class CArchive;

class CObject {
public:
    static const CRuntimeClass classCObject;
    static constexpr const CRuntimeClass* ThisClass() { return &classCObject; }

    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;
    // Writes (storing) or reads (loading) the object's own fields, in one order for both
    // directions. The root has no fields.
    virtual void Serialize(CArchive& ar);

    // True when the object's class is `cls` or derives from it at run time.
    bool IsKindOf(const CRuntimeClass* cls) const { return GetRuntimeClass()->IsDerivedFrom(cls); }
    bool IsSerializable() const { return GetRuntimeClass()->IsSerializable(); }

    // Shared ownership between threads. An object made with new starts with one reference,
    // its creator's. AddRef takes another; Release gives one up and deletes the object when the
    // last one goes. An object that is never shared keeps the plain rule that its owner deletes
    // it (with one reference, delete and Release are the same). Once a second holder may exist
    // (a session using its service, a walk outside a container's lock), every holder, the owner
    // included, gives the object up with Release and never deletes it. Only objects made with
    // new may be shared; members and locals never are. CRef below holds a reference for a scope.
    void AddRef() const { m_references.fetch_add(1, std::memory_order_relaxed); }
    // Returns the references left; 0 means the object was deleted.
    long Release() const;
    long GetReferenceCount() const { return m_references.load(std::memory_order_acquire); }

protected:
    CObject() = default;
    // A copy is a new object: it has its own single reference.
    CObject(const CObject&) noexcept {}
    CObject& operator=(const CObject&) noexcept { return *this; }

private:
    mutable std::atomic<long> m_references{1};
};

// A counted reference to a CObject (or derived) that Releases when it goes.
template <class T>
class CRef {
public:
    CRef() = default;
    CRef(std::nullptr_t) {}
    // Takes a new reference to `object` (a pointer read from a container under its lock).
    explicit CRef(T* object) : m_object(object) {
        if (m_object != nullptr)
            m_object->AddRef();
    }
    // Takes over a reference the caller already holds (a new object's first one).
    static CRef Adopt(T* object) {
        CRef ref;
        ref.m_object = object;
        return ref;
    }
    CRef(const CRef& other) : CRef(other.m_object) {}
    CRef(CRef&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    template <class U>
    CRef(const CRef<U>& other) : CRef(other.Get()) {}
    CRef& operator=(CRef other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~CRef() { Reset(); }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    void Reset() {
        if (T* object = std::exchange(m_object, nullptr))
            object->Release();
    }
    // Gives the reference to the caller, who must Release it.
    T* Detach() { return std::exchange(m_object, nullptr); }

private:
    T* m_object = nullptr;
};

#define RUNTIME_CLASS(cls) (cls::ThisClass())

#define DECLARE_DYNAMIC(cls)                                                  \
public:                                                                       \
    static const CRuntimeClass class##cls;                                    \
    static constexpr const CRuntimeClass* ThisClass() { return &class##cls; } \
    const CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_SERIAL(cls) \
    DECLARE_DYNAMIC(cls)    \
    static CObject* CreateObject();

#define DECLARE_DYNCREATE(cls) DECLARE_SERIAL(cls)

#define NORVANE_IMPLEMENT_RUNTIME_RECORD(cls, base, schema, factory)                      \
    constinit const CRuntimeClass cls::class##cls{#cls, schema, factory, RUNTIME_CLASS(base)}; \
    const CRuntimeClass* cls::GetRuntimeClass() const { return &class##cls; }

#define NORVANE_IMPLEMENT_CREATABLE(cls, base, schema)                       \
    CObject* cls::CreateObject() { return new cls; }                         \
    NORVANE_IMPLEMENT_RUNTIME_RECORD(cls, base, schema, &cls::CreateObject) \
    namespace {                                                              \
    const CClassRegistration registration##cls(RUNTIME_CLASS(cls));         \
    }

#define IMPLEMENT_DYNAMIC(cls, base) \
    NORVANE_IMPLEMENT_RUNTIME_RECORD(cls, base, CRuntimeClass::kNoSchema, nullptr)

#define IMPLEMENT_DYNCREATE(cls, base) \
    NORVANE_IMPLEMENT_CREATABLE(cls, base, CRuntimeClass::kNoSchema)

#define IMPLEMENT_SERIAL(cls, base, schema) NORVANE_IMPLEMENT_CREATABLE(cls, base, schema)
