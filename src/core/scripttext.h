#pragma once

#include <QString>
#include <QtGlobal>

#include <initializer_list>

// Builds the script snippets the program sends to its pages (the frames and
// their evaluation are the bridge's, see bridge/pagescript.h). Every text value
// is escaped as the content of a single-quoted JavaScript string, so a value
// can never leave its literal, while ordinary values give exactly the
// template's text. Numbers go in as decimals.
namespace PageScript {

// One value for a template placeholder.
class Arg {
public:
    Arg(const QString& text);
    Arg(const char* text);
    Arg(int number);
    Arg(qint64 number);
    Arg(bool flag);
    const QString& text() const { return value; }

private:
    QString value;
};

// Escapes text for a position inside '...' in a script.
QString escape(const QString& text);

// Fills %1, %2, ... of the template in a single pass (a placeholder inside a
// value is never expanded again).
QString build(const QString& templ, std::initializer_list<Arg> args = {});

} // namespace PageScript
