#pragma once
// Run-time class records and the class registry.
//
// Every class derived from CObject carries one CRuntimeClass record: its name, its schema, an
// optional factory that makes an empty object, and the record of its run-time base class. The
// run-time base is named by the record, not by C++: a class may present a different base to
// run-time checks than it derives from (CMachineMap names the plain string-to-object map).
//
// Records are constant-initialised (they hold only pointers and numbers), so a record is valid
// before any constructor of any translation unit runs, whatever the order of static
// initialisation. Creatable classes also enter the class registry from a static object of their
// translation unit, before main; the registry itself is built on first use, so a registration
// that runs before the registry's own translation unit is initialised is still kept.
//
// The registry maps exact, case-sensitive names to records. The archive creates objects of new
// class records through it, and the service manager creates services from stored class names.

#include "platform/kernel/Types.h"

#include <string>
#include <string_view>
#include <vector>

class CObject;

class CRuntimeClass {
public:
    using Factory = CObject* (*)();

    // The schema of a class that may be created by name but never appears in an archive
    // stream, and of classes that are only known to run-time checks.
    static constexpr WORD kNoSchema = 0xFFFF;

    constexpr CRuntimeClass(const char* name, WORD schema, Factory factory,
                            const CRuntimeClass* base)
        : m_name(name), m_schema(schema), m_factory(factory), m_base(base) {}
    CRuntimeClass(const CRuntimeClass&) = delete;
    CRuntimeClass& operator=(const CRuntimeClass&) = delete;

    const char* GetName() const { return m_name; }
    WORD GetSchema() const { return m_schema; }
    const CRuntimeClass* GetBaseClass() const { return m_base; }

    // True when the class may travel in an archive stream (its schema is not kNoSchema).
    bool IsSerializable() const { return m_schema != kNoSchema; }
    // True when objects of the class can be made from the record (by name or by the archive).
    bool CanCreate() const { return m_factory != nullptr; }

    // True when this class is `base` or has it among its run-time bases. A null `base` is
    // never matched.
    bool IsDerivedFrom(const CRuntimeClass* base) const;

    // A new, empty object owned by the caller, or null when the class has no factory.
    // Memory exhaustion surfaces as std::bad_alloc.
    CObject* CreateObject() const;

    // The registered record of that exact name, or null.
    static const CRuntimeClass* FromName(std::string_view name);
    // A new object of the registered class of that exact name, or null when no such class is
    // registered or it has no factory.
    static CObject* CreateObject(std::string_view name);

    // Enters a record in the registry. Refused (false) for a null record, a record without a
    // name or factory, or a name that is already registered (the first registration stays).
    // The record must live as long as the program (records are static).
    static bool Register(const CRuntimeClass* cls);
    // Every registered record, in name order.
    static std::vector<const CRuntimeClass*> RegisteredClasses();

private:
    const char* m_name;
    WORD m_schema;
    Factory m_factory;
    const CRuntimeClass* m_base;
};

// A static object of this type registers a record before main (see IMPLEMENT_SERIAL).
class CClassRegistration {
public:
    explicit CClassRegistration(const CRuntimeClass* cls) { CRuntimeClass::Register(cls); }
};
