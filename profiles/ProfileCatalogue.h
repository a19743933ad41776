// ProfileCatalogue: the output profiles read from Format.xml, an
// ordered, doubly linked list of OutputProfile copies behind a recursive lock.
// One instance lives from before the main window until exit. The list owns
// its nodes: records handed in are copied, records handed out are copies
// (a walk reads the nodes in place while it holds the lock).
#pragma once

#include <filesystem>
#include <mutex>

#include "profiles/OutputProfile.h"

class CXmlDocument;

class ProfileCatalogue {
public:
    struct Node {
        OutputProfile profile;
        Node* prev = nullptr;
        Node* next = nullptr;
    };

    ProfileCatalogue() = default;
    ~ProfileCatalogue();
    ProfileCatalogue(const ProfileCatalogue&) = delete;
    ProfileCatalogue& operator=(const ProfileCatalogue&) = delete;

    // Reads the catalogue file and appends one entry per Profile element of
    // the root. Returns false only when the XML document cannot be loaded
    // (missing, unreadable or not well formed); the list is then unchanged.
    // Text longer than a field's capacity is cut (see OutputProfile.h).
    bool Load(const std::filesystem::path& file);
    // Appends a copy of `profile`; false only when no memory can be had.
    bool Add(const OutputProfile& profile);
    // Copies the first entry whose Index is `index` into `out`; false, with
    // `out` untouched, when none has it.
    bool FindByIndex(std::int32_t index, OutputProfile& out) const;
    int Count() const;

    // Walking: Lock(), First(), Next(node) until null, reading node->profile
    // in place, then Unlock(). The lock is recursive, so a walk may call
    // FindByIndex.
    void Lock() const { lock_.lock(); }
    void Unlock() const { lock_.unlock(); }
    const Node* First() const { return head_; }
    const Node* Next(const Node* node) const { return node ? node->next : nullptr; }

    // Parses the Profile element the document's cursor stands in (after
    // EnterElement) into `profile`, reading each field in the catalogue's order; a missing video
    // (audio) field clears HasVideo (HasAudio). Exposed for tests.
    static void ParseProfile(CXmlDocument& doc, OutputProfile& profile);

private:
    mutable std::recursive_mutex lock_;
    Node* head_ = nullptr;
    Node* tail_ = nullptr;
    int count_ = 0;
};
