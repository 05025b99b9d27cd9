// SPDX-License-Identifier: MIT
#include "texts/window.h"

// The window's captions and the words of Qt's own that it shows.
namespace OperatorText {

QString windowTitle()
{
    return QStringLiteral("Vorla generator - generator povorki na serijskom portu");
}

QString settingsFrame()
{
    return QStringLiteral("Podesavanja");
}

QString portLabel()
{
    return QStringLiteral("Port:");
}

QString rateLabel()
{
    return QStringLiteral("b/s:");
}

QString periodLabel()
{
    return QStringLiteral("Perioda:");
}

QString periodUnit()
{
    return QStringLiteral("ms");
}

QString dtrBox()
{
    return QStringLiteral("DTR");
}

QString rtsBox()
{
    return QStringLiteral("RTS");
}

QString sendingFrame()
{
    return QStringLiteral("Slanje povorke");
}

QString onceButton()
{
    return QStringLiteral("Jednom");
}

QString repeatButton()
{
    return QStringLiteral("Ponavljanje");
}

QString stopButton()
{
    return QStringLiteral("STOP");
}

QString trainFrame()
{
    return QStringLiteral("Podaci za slanje");
}

QString exitButton()
{
    return QStringLiteral("Kraj");
}

QString linePreviewName()
{
    return QStringLiteral("Pregled TX linije");
}

QString menuUndo()
{
    return QStringLiteral("&Ponisti");
}

QString menuRedo()
{
    return QStringLiteral("Po&novi");
}

QString menuCut()
{
    return QStringLiteral("Ise&ci");
}

QString menuCopy()
{
    return QStringLiteral("&Kopiraj");
}

QString menuPaste()
{
    return QStringLiteral("&Nalepi");
}

QString menuDelete()
{
    return QStringLiteral("Obrisi");
}

QString menuSelectAll()
{
    return QStringLiteral("Izaberi sve");
}

QString buttonOk()
{
    return QStringLiteral("U redu");
}

QString buttonCancel()
{
    return QStringLiteral("Otkazi");
}

QString buttonClose()
{
    return QStringLiteral("Zatvori");
}

QString buttonApply()
{
    return QStringLiteral("Primeni");
}

} // namespace OperatorText
