#pragma once
// What assistive technology sees of the traffic list: a list whose children are its published
// lines, each named by its text and described by its decoded meaning. Children are made when a
// reader asks for them, so a list of millions of lines costs nothing until it is read, and only
// a few screens of them are kept.

class CTrafficList;
class QAccessibleInterface;
class QObject;
class QString;

// The accessibility factory for CTrafficList; installed once by the first list.
QAccessibleInterface* TrafficListAccessibleFactory(const QString& key, QObject* object);

// The list's lines changed wholesale (cleared): readers forget the children they hold.
void DropTrafficLineAccessibles(CTrafficList& list);
