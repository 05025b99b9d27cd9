// SPDX-License-Identifier: MIT
#pragma once

#include "train/panel.h"

#include <QPointer>
#include <QWidget>

// The operator's message boxes: modal, one OK button, the information or the critical icon.
// Parented to the window when there is one, so they sit on top of it.
class MessageBoxes : public Messenger
{
public:
    explicit MessageBoxes(QWidget *parent = nullptr);

    void critical(const QString &title, const QString &text) override;
    void information(const QString &title, const QString &text) override;

private:
    QPointer<QWidget> m_parent;
};
