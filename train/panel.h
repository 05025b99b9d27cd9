// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// The window's fields as the commands read them: at the moment a command runs, never cached.
class Panel
{
public:
    enum class CheckState { Unchecked = 0, Checked = 1, Grayed = 2 };

    virtual ~Panel() = default;
    virtual QString portText() const = 0;    // "Port:"
    virtual QString bitRateText() const = 0; // "b/s:"
    virtual QString periodText() const = 0;  // "Perioda:"
    virtual QString trainText() const = 0;   // "Podaci za slanje"
    virtual CheckState dtrState() const = 0;
    virtual CheckState rtsState() const = 0;
    // Setting a state from code only sets the box; the caller drives the line itself.
    virtual void setDtrState(CheckState state) = 0;
    virtual void setRtsState(CheckState state) = 0;
};

// Modal message boxes with one OK button. The window shows real ones; tests record them.
class Messenger
{
public:
    virtual ~Messenger() = default;
    virtual void critical(const QString &title, const QString &text) = 0;
    virtual void information(const QString &title, const QString &text) = 0;
};
