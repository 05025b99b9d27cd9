// SPDX-License-Identifier: MIT
#include "app/messageboxes.h"

#include <QMessageBox>

namespace {

void showBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
}

} // namespace

MessageBoxes::MessageBoxes(QWidget *parent)
    : m_parent(parent)
{}

void MessageBoxes::critical(const QString &title, const QString &text)
{
    showBox(m_parent, QMessageBox::Critical, title, text);
}

void MessageBoxes::information(const QString &title, const QString &text)
{
    showBox(m_parent, QMessageBox::Information, title, text);
}
