#pragma once
// Helpers for the access-control containers that own their elements (time filters, the
// location array, and the lists of later classes): the numbered sub-key names their registry
// form uses, and their archive form read aside so that a failed load changes nothing.

#include "foundation/Archive.h"
#include "foundation/ObjectArray.h"
#include "foundation/ObjectList.h"
#include "foundation/RegistryStore.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// "<keyPath>\<prefix><index>", the sub-key of a list's element ("Locations\Location3").
std::string NumberedSubKeyPath(std::string_view keyPath, std::string_view prefix, std::size_t index);
// "<keyPath>\<name>".
std::string SubKeyPath(std::string_view keyPath, std::string_view name);

// The object-list and object-array form: count, then each element as an object reference.
template <class Range>
void WriteElements(CArchive& ar, const Range& elements) {
    std::size_t count = 0;
    for (auto it = elements.begin(); it != elements.end(); ++it)
        ++count;
    ar.WriteCount(count);
    for (const CObject* element : elements)
        ar.WriteObject(element);
}

// Reads that form into new objects of class T (or derived): null elements, other classes and
// back-references are refused, so every element read is a new object owned by the result.
// Throws as the archive does; what was read so far is freed then.
template <class T>
std::vector<std::unique_ptr<T>> ReadOwnedElements(CArchive& ar) {
    constexpr std::size_t kMinElementBytes = 2;  // a reference is at least its WORD tag
    std::vector<std::unique_ptr<T>> elements;
    for (DWORD n = ar.ReadCount(kMinElementBytes); n > 0; --n)
        elements.push_back(ar.ReadOwnedObject<T>());
    return elements;
}

// Replacing a list's elements in two steps, so that several lists change all or nothing:
// AppendStaged adds the fresh elements after the old ones (when adding fails it removes what
// it added and throws, the list as it was), and returns the old count; CommitStaged then
// hands the fresh elements to the list and gives the old ones up (Release: deleted unless
// shared), or UndoStaged takes the fresh ones out again. The caller holds the list's lock.
inline void UndoStaged(CObjectList& list, std::size_t oldCount) {
    while (list.GetCount() > oldCount)
        list.RemoveTail();
}

template <class T>
std::size_t AppendStaged(CObjectList& list, const std::vector<std::unique_ptr<T>>& fresh) {
    const std::size_t old = list.GetCount();
    try {
        for (const std::unique_ptr<T>& element : fresh)
            list.AddTail(element.get());
    } catch (...) {
        UndoStaged(list, old);
        throw;
    }
    return old;
}

template <class T>
void CommitStaged(CObjectList& list, std::vector<std::unique_ptr<T>>& fresh, std::size_t oldCount) {
    for (std::unique_ptr<T>& element : fresh)
        element.release();
    fresh.clear();
    for (std::size_t i = 0; i < oldCount; ++i) {
        if (CObject* element = list.RemoveHead())
            element->Release();
    }
}

// Puts `fresh` in place of every element of `list`, all or nothing (on failure the vector
// still owns its elements), and gives the old elements up. The caller holds the list's lock.
template <class T>
void ReplaceOwnedElements(CObjectList& list, std::vector<std::unique_ptr<T>>& fresh) {
    CommitStaged(list, fresh, AppendStaged(list, fresh));
}

// Saves each element of `list` (of class T) under "<keyPath>\<prefix><n>", n from 0 in list
// order, with `save(element, subKeyPath)`; stops at the first that answers FALSE. The caller
// holds the list's lock.
template <class T, class Save>
BOOL SaveNumberedElements(const CObjectList& list, const std::string& keyPath,
                          std::string_view prefix, Save save) {
    std::size_t index = 0;
    for (const CObject* element : list) {
        if (!save(*static_cast<const T*>(element), NumberedSubKeyPath(keyPath, prefix, index++)))
            return FALSE;
    }
    return TRUE;
}

// One new element for each sub-key of `keyPath`, "<prefix><n>" in the numeric order of n
// first, then any others: `load(subKeyPath)` makes it, or answers null to skip the sub-key.
template <class T, class Load>
std::vector<std::unique_ptr<T>> LoadSubKeyElements(const std::string& keyPath,
                                                   std::string_view prefix, Load load) {
    std::vector<std::unique_ptr<T>> elements;
    for (const std::string& name : RegEnumNumberedSubKeys(keyPath, prefix)) {
        if (std::unique_ptr<T> element = load(SubKeyPath(keyPath, name)))
            elements.push_back(std::move(element));
    }
    return elements;
}

// Puts `freshFirst` in place of every element of `first` and `freshSecond` in place of
// every element of `second`: both change, or neither (then the vectors still own theirs).
template <class T>
void ReplaceOwnedElements(CObjectList& first, std::vector<std::unique_ptr<T>>& freshFirst,
                          CObjectList& second, std::vector<std::unique_ptr<T>>& freshSecond) {
    const std::size_t oldFirst = AppendStaged(first, freshFirst);
    std::size_t oldSecond = 0;
    try {
        oldSecond = AppendStaged(second, freshSecond);
    } catch (...) {
        UndoStaged(first, oldFirst);
        throw;
    }
    CommitStaged(first, freshFirst, oldFirst);
    CommitStaged(second, freshSecond, oldSecond);
}

// Puts `fresh` in place of every element of `array`, all or nothing, and gives the old
// elements up. The caller holds the array's lock.
template <class T>
void ReplaceOwnedElements(CObjectArray& array, std::vector<std::unique_ptr<T>>& fresh) {
    // The two steps that may fail come first, and change nothing when they do.
    const std::vector<CObject*> previous(array.begin(), array.end());
    array.SetSize(std::max(previous.size(), fresh.size()));
    for (std::size_t i = 0; i < fresh.size(); ++i)
        array.SetAt(i, fresh[i].release());
    array.SetSize(fresh.size());
    fresh.clear();
    for (CObject* element : previous) {
        if (element != nullptr)
            element->Release();
    }
}
