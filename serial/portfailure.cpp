#include "serial/portfailure.h"

QString portErrorReportText(const PortFailure &failure)
{
    return QStringLiteral("Greska ") + QString::number(failure.number) + QStringLiteral(" - ") +
           failure.description + QStringLiteral(" - ") + failure.source +
           QStringLiteral("\r\n Pokusajte ponovo !");
}
