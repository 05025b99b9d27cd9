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

// The fields as plain values, starting at the window's defaults: what vorlagen-send and the
// benchmark set from their options, and what tests set by hand.
class FieldValues : public Panel
{
public:
    QString port = QStringLiteral("1");
    QString rate = QStringLiteral("115200");
    QString period = QStringLiteral("100");
    QString train = QStringLiteral("F0 F0 F0 F0 F0 F0 F0 F0 F0 F0");
    CheckState dtr = CheckState::Unchecked;
    CheckState rts = CheckState::Unchecked;

    QString portText() const override { return port; }
    QString bitRateText() const override { return rate; }
    QString periodText() const override { return period; }
    QString trainText() const override { return train; }
    CheckState dtrState() const override { return dtr; }
    CheckState rtsState() const override { return rts; }
    void setDtrState(CheckState state) override { dtr = state; }
    void setRtsState(CheckState state) override { rts = state; }
};

// Modal message boxes with one OK button. The window shows real ones; tests record them.
class Messenger
{
public:
    virtual ~Messenger() = default;
    virtual void critical(const QString &title, const QString &text) = 0;
    virtual void information(const QString &title, const QString &text) = 0;
};
