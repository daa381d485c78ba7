#pragma once
// The library's exception root.
//
// Library exceptions (archive failures, file failures, not-supported operations, and the
// socket and file exceptions of other layers) derive from CException, a CObject, so run-time
// checks (IsKindOf) tell them apart. They are thrown by pointer and whoever catches one
// deletes it:
//
//     try { ... }
//     catch (CArchiveException* e) { Log(e->GetErrorMessage()); e->Delete(); }
//     catch (CException* e) { ...; e->Delete(); }   // every other library exception
//
// A handler that only cleans up and rethrows uses `throw;`, which passes the same pointer on.
// Memory exhaustion is std::bad_alloc, thrown by value as the language does.

#include "platform/framework/Object.h"

#include <string>
#include <utility>

class CException : public CObject {
    DECLARE_DYNAMIC(CException)
public:
    explicit CException(std::string message = {}) : m_message(std::move(message)) {}

    // The text to show or log for this failure.
    virtual std::string GetErrorMessage() const { return m_message; }
    // Frees the exception; the catcher's duty.
    void Delete() { delete this; }

protected:
    std::string m_message;
};

// For use inside a catch handler: frees the exception being handled if it is a library
// exception (thrown by pointer), drops any other. For handlers whose failures are contained.
void DropCurrentException() noexcept;

// An operation the object does not support (writing a class that may not be serialised,
// emptying a container whose elements are in live use).
class CNotSupportedException : public CException {
    DECLARE_DYNAMIC(CNotSupportedException)
public:
    explicit CNotSupportedException(std::string message = "Operation not supported")
        : CException(std::move(message)) {}
};
