#pragma once
// Circular doubly linked list of pointSet values with a sentinel node and a
// cursor. The component fill appends one set per component; the object
// segmentation walks it from the back with last/previous and removes entries.

#include <cstdint>
#include <string_view>

#include "toolkit/hyperVector.h"

struct listNode {
    pointSet value;
    listNode* next;
    listNode* prev;
};

class List {
public:
    List();
    // Deep copy; the cursor lands on the element at the same position.
    List(const List& other);
    List& operator=(const List& other);
    ~List();

    // Adds the value at the end; the cursor moves to it.
    void append(const pointSet& value);
    void append(pointSet&& value);
    // Adds the value just before the cursor; the cursor moves to it.
    void insert(const pointSet& value);
    void insert(pointSet&& value);
    // Cursor to the last element; no move on an empty list.
    void last();
    // Cursor one element toward the front; stays on the first element.
    void previous();
    // Deletes the element at the cursor; the cursor moves to the next element,
    // or to the new last one when the last was removed. Fatal on an empty list.
    void remove();

    listNode* head;    // sentinel, owned: head->next first, head->prev last
    listNode* current; // cursor: an element, or the sentinel
    std::int32_t count;

private:
    void link(listNode* node);
    void copyFrom(const List& other);
};

// Writes a line break, the message and a line break on the standard output
// stream and ends the process with exit status 1.
[[noreturn]] void listFatalError(std::string_view message);
