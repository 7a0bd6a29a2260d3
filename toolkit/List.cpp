#include "toolkit/List.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <utility>

void listFatalError(std::string_view message) {
    std::cerr.flush();
    std::cout << '\n' << message << '\n';
    std::cout.flush();
    std::fflush(nullptr);
    std::_Exit(1);
}

List::List() : head(new listNode{pointSet(), nullptr, nullptr}), current(head), count(0) {
    head->next = head;
    head->prev = head;
}

List::List(const List& other) : List() {
    copyFrom(other);
}

List& List::operator=(const List& other) {
    if (this == &other)
        return *this;
    while (count != 0) {
        current = head->next;
        remove();
    }
    copyFrom(other);
    return *this;
}

List::~List() {
    while (count != 0) {
        current = head->next;
        remove();
    }
    delete head;
}

void List::copyFrom(const List& other) {
    listNode* cursor = head;
    for (const listNode* node = other.head->next; node != other.head; node = node->next) {
        append(node->value);
        if (node == other.current)
            cursor = current;
    }
    current = cursor;
}

void List::link(listNode* node) {
    ++count;
    node->next = current;
    node->prev = current->prev;
    current->prev->next = node;
    current->prev = node;
    current = node;
}

void List::insert(const pointSet& value) {
    link(new listNode{value, nullptr, nullptr});
}

void List::insert(pointSet&& value) {
    link(new listNode{std::move(value), nullptr, nullptr});
}

void List::append(const pointSet& value) {
    current = head;
    insert(value);
}

void List::append(pointSet&& value) {
    current = head;
    insert(std::move(value));
}

void List::last() {
    if (count != 0)
        current = head->prev;
}

void List::previous() {
    if (current->prev != head)
        current = current->prev;
}

void List::remove() {
    if (count == 0)
        listFatalError("List empty in remove");
    // Unlinking the sentinel would wreck the ring and leak every element.
    if (current == head)
        listFatalError("List cursor on no element in remove");
    --count;
    listNode* node = current;
    node->next->prev = node->prev;
    node->prev->next = node->next;
    current = node->next;
    if (current == head)
        current = head->prev;
    delete node;
}
