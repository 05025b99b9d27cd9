// SPDX-License-Identifier: MIT
#include "texts/failures.h"

#include "texts/words.h"

#include <algorithm>

namespace OperatorText {

namespace {

PortFailure fromPort(int number, const QString &description)
{
    return PortFailure{number, description, kSourcePort};
}

} // namespace

QString reportTitle()
{
    return QStringLiteral("Greska !");
}

QString report(const PortFailure &failure)
{
    return QStringLiteral("Greska ") + QString::number(failure.number) + QStringLiteral(" - ") +
           failure.description + QStringLiteral(" - ") + failure.source +
           QStringLiteral("\r\n Pokusajte ponovo !");
}

PortFailure portNotANumber(const QString &text)
{
    return PortFailure{
        PortError::PortNotANumber,
        QStringLiteral("Port %1 nije ceo broj; upisite broj porta, npr. 1").arg(quotedInput(text)),
        kSourceWindow};
}

PortFailure portOutOfRange(const QString &text)
{
    return PortFailure{PortError::PortOutOfRange,
                       QStringLiteral("Broj porta %1 je izvan opsega -32768 do 32767")
                           .arg(quotedInput(text.trimmed())),
                       kSourceWindow};
}

PortFailure portBelowOne(qint16 number)
{
    return fromPort(PortError::PortBelowOne,
                    QStringLiteral("Broj porta mora biti 1 ili veci, a zadat je %1").arg(number));
}

PortFailure badBitRate(const QString &rateText)
{
    return fromPort(PortError::BadBitRate,
                    QStringLiteral("Brzina %1 b/s nije prihvacena; upisite ceo pozitivan "
                                   "broj, npr. 9600")
                        .arg(quotedInput(rateText)));
}

PortFailure badQueueSize(qint16 size)
{
    return fromPort(
        PortError::BadQueueSize,
        QStringLiteral("Velicina bafera mora biti pozitivna, a zadata je %1").arg(size));
}

PortFailure numberChangedWhileOpen()
{
    return fromPort(PortError::NumberChangedWhileOpen,
                    QStringLiteral("Broj porta se ne menja dok je port otvoren"));
}

PortFailure portClosed()
{
    return fromPort(PortError::PortClosed, QStringLiteral("Port nije otvoren; slanje nije moguce"));
}

PortFailure noSuchPort(qint16 number, const QString &tried, const QStringList &present)
{
    const QString existing =
        present.isEmpty() ? QStringLiteral("nema ni jednog") : present.join(QStringLiteral(", "));
    return fromPort(PortError::NoSuchPort,
                    QStringLiteral("Port %1 ne postoji (trazeno: %2); postojeci portovi: %3")
                        .arg(QString::number(number), tried, existing));
}

PortFailure virtualPortEnded(qint16 number, const QString &link)
{
    return fromPort(PortError::NoSuchPort,
                    QStringLiteral("Port %1 ne postoji: virtuelni port %2 je zavrsen, jer "
                                   "vorlagen-monitor koji ga je napravio vise ne radi; pokrenite "
                                   "ga ponovo (vorlagen-monitor %1)")
                        .arg(QString::number(number), link));
}

PortFailure deviceMissing(const QString &path)
{
    return fromPort(
        PortError::NoSuchPort,
        QStringLiteral("Uredjaj %1 ne postoji; proverite da li je prikljucen").arg(path));
}

PortFailure permissionDenied(const QString &path, const QString &owner, const QString &group)
{
    const QString denied = QStringLiteral("Nema dozvole za pristup uredjaju %1; ").arg(path);
    if (group == QLatin1String("dialout"))
        return fromPort(PortError::PermissionDenied,
                        denied + QStringLiteral("dodajte korisnika u grupu dialout (sudo usermod "
                                                "-aG dialout $USER), pa se odjavite i ponovo "
                                                "prijavite"));
    const QString whose = owner.isEmpty()
                              ? QString()
                              : QStringLiteral("uredjaj pripada korisniku %1%2; ")
                                    .arg(owner, group.isEmpty() || group == owner
                                                    ? QString()
                                                    : QStringLiteral(" i grupi %1").arg(group));
    return fromPort(PortError::PermissionDenied,
                    denied + whose +
                        QStringLiteral("pristup moze da odobri vlasnik uredjaja ili "
                                       "administrator"));
}

PortFailure notASerialPort(const QString &path)
{
    return fromPort(PortError::NotASerialPort,
                    QStringLiteral("Uredjaj %1 nije moguce otvoriti kao serijski port").arg(path));
}

PortFailure alreadyOpen(const QString &path)
{
    return fromPort(PortError::AlreadyOpen, QStringLiteral("Port %1 je vec otvoren").arg(path));
}

PortFailure rateNotAccepted(const QString &path, qint32 rate, qint32 applied)
{
    QString text =
        QStringLiteral("Uredjaj %1 ne prihvata brzinu %2 b/s").arg(path, QString::number(rate));
    if (applied > 0 && applied != rate)
        text += QStringLiteral(" (najbliza koju daje je %1 b/s)").arg(applied);
    return fromPort(PortError::RateNotAccepted, text + QStringLiteral("; izaberite drugu brzinu"));
}

namespace {

QString busyText(const QString &path)
{
    return QStringLiteral("Port %1 je zauzet: koristi ga drugi program ili drugi primerak ovog "
                          "programa")
        .arg(path);
}

} // namespace

PortFailure portBusy(const QString &path)
{
    return fromPort(PortError::PortInUse, busyText(path));
}

PortFailure portBusyBy(const QString &path, const QString &program, qint64 pid)
{
    return fromPort(PortError::PortInUse,
                    busyText(path) +
                        QStringLiteral(" (%1, proces %2)").arg(program, QString::number(pid)));
}

PortFailure portBusyStaleLock(const QString &path, const QString &lockFile, qint64 pid)
{
    return fromPort(PortError::PortInUse,
                    QStringLiteral("Port %1 je zauzet: datoteka zakljucavanja %2 ostala je iza "
                                   "programa koji vise ne radi (proces %3), a pripada drugom "
                                   "korisniku; neka je ukloni taj korisnik ili administrator: "
                                   "sudo rm %2")
                        .arg(path, lockFile, QString::number(pid)));
}

PortFailure portHeldExclusively(const QString &path)
{
    return fromPort(PortError::PortInUse,
                    busyText(path) +
                        QStringLiteral(", koji ga drzi samo za sebe. Ako ga nijedan program ne "
                                       "koristi, zauzece je ostalo iza programa koji je pao ili je "
                                       "nasilno prekinut i ne moze se ukloniti iz programa: "
                                       "virtuelni port napravite ponovo (npr. ponovo pokrenite "
                                       "vorlagen-monitor), a adapter iskljucite i ponovo "
                                       "prikljucite"));
}

PortFailure portOpenInThisProgram(const QString &path)
{
    return fromPort(PortError::PortInUse,
                    QStringLiteral("Port %1 je vec otvoren u ovom programu").arg(path));
}

PortFailure deviceGone(const QString &path, qint64 lost)
{
    QString text = QStringLiteral("Uredjaj %1 je nestao ili se prekinuo (iskljucen kabl ili "
                                  "adapter?); port je zatvoren")
                       .arg(path);
    if (lost > 0)
        text += QStringLiteral(", %1 bajtova nije poslato").arg(lost);
    return fromPort(PortError::DeviceGone, text);
}

PortFailure queueFull(const QString &path, qint64 waiting, qint64 bytes, qint64 limit, qint32 rate)
{
    QString text =
        QStringLiteral("Red za slanje na %1 je pun: ceka jos %2 bajtova, a %3 novih ne "
                       "staje u %4; povorka nije poslata")
            .arg(path, QString::number(waiting), QString::number(bytes), QString::number(limit));
    if (rate > 0) {
        const qint64 seconds = std::max<qint64>(1, (waiting * 10 + rate - 1) / rate);
        text += QStringLiteral("; linija ih salje jos oko %1 s").arg(seconds);
    }
    return fromPort(PortError::QueueFull, text);
}

PortFailure writeFailed(const QString &path, int systemError)
{
    return fromPort(PortError::WriteFailed,
                    QStringLiteral("Upis na %1 nije uspeo (greska sistema %2); nista nije poslato")
                        .arg(path, QString::number(systemError)));
}

PortFailure linesFailed(const QString &line, const QString &path, int systemError)
{
    return fromPort(PortError::LinesFailed,
                    QStringLiteral("Linije %1 na %2 nije moguce postaviti (greska sistema %3)")
                        .arg(line, path, QString::number(systemError)));
}

QString badPeriod(const QString &text)
{
    return QStringLiteral("Perioda mora biti ceo broj milisekundi od 0 do 32767, a upisano je "
                          "%1. Ponavljanje nije pokrenuto.")
        .arg(quotedInput(text));
}

QString badPeriodGoesOn(const QString &text, int oldPeriod)
{
    return QStringLiteral("Perioda mora biti ceo broj milisekundi od 0 do 32767, a upisano je "
                          "%1. Ponavljanje se nastavlja sa starom periodom od %2 ms.")
        .arg(quotedInput(text), QString::number(oldPeriod));
}

QString trainTooLong(qint64 bytes, int capacity)
{
    return QStringLiteral("Povorka je preduga: tekst daje %1 bajtova, a stane najvise %2. "
                          "Skratite podatke za slanje.")
        .arg(QString::number(bytes), QString::number(capacity));
}

QString senderPriority(bool realtime, const QString &policy)
{
    if (realtime)
        return QStringLiteral("Nit slanja radi u realnom vremenu (%1).").arg(policy);
    return QStringLiteral("Nit slanja radi bez realnog vremena (%1): kad je racunar zauzet, "
                          "rokovi mogu proci bez povorke. Realno vreme daje RealtimeKit u "
                          "sesiji radne povrsine ili rtprio u /etc/security/limits.conf.")
        .arg(policy);
}

QString senderNotRealtime(const QString &policy)
{
    return QStringLiteral("bez realnog vremena (%1)").arg(policy);
}

QString alreadyRunningTitle()
{
    return QStringLiteral("Informacija !");
}

QString alreadyRunning()
{
    return QStringLiteral("Program je vec startovan!");
}

} // namespace OperatorText
