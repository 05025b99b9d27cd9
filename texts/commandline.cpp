// SPDX-License-Identifier: MIT
#include "texts/commandline.h"

#include "texts/words.h"

// The texts every command line shares.
namespace OperatorText {

QString programMessage(const QString &program, const QString &message)
{
    return program + QStringLiteral(": ") + message + QLatin1Char('\n');
}

QString usageError(const QString &program, const QString &message)
{
    return programMessage(program, message) + QStringLiteral("Pomoc: ") + program +
           QStringLiteral(" --help\n");
}

QString helpUsage(const QString &program)
{
    return QStringLiteral("Upotreba: ") + program + QStringLiteral(" [opcije]");
}

QString helpOtherUsage(const QString &program, const QString &option)
{
    return QStringLiteral("   ili: ") + program + QLatin1Char(' ') + option;
}

QString helpArgumentsHeading()
{
    return QStringLiteral("Argumenti:");
}

QString helpOptionsHeading()
{
    return QStringLiteral("Opcije:");
}

QString helpOptionHelp()
{
    return QStringLiteral("prikazi ovu pomoc i zavrsi");
}

QString versionOptionHelp()
{
    return QStringLiteral("prikazi verziju programa i zavrsi");
}

QString extraArgument(const QString &argument)
{
    return QStringLiteral("visak argument ") + quotedInput(argument);
}

QString missingArgument(const QString &name)
{
    return QStringLiteral("nedostaje argument ") + name;
}

QString missingArgumentOr(const QString &name, const QString &instead)
{
    return missingArgument(name) + QStringLiteral(" (ili ") + instead + QLatin1Char(')');
}

QString unknownOption(const QString &spelled)
{
    return QStringLiteral("nepoznata opcija ") + quotedInput(spelled);
}

QString ambiguousOption(const QString &spelled, const QStringList &options)
{
    return QStringLiteral("opcija %1 nije jednoznacna (%2)")
        .arg(quotedInput(spelled), options.join(QStringLiteral(", ")));
}

QString optionTakesNoValue(const QString &spelled)
{
    return QStringLiteral("opcija ") + quotedInput(spelled) + QStringLiteral(" ne prima vrednost");
}

QString optionNeedsValue(const QString &spelled)
{
    return QStringLiteral("opciji ") + quotedInput(spelled) + QStringLiteral(" nedostaje vrednost");
}

QString optionRefused(const QString &option, const QString &rule, const QString &value)
{
    return QStringLiteral("--") + option + QStringLiteral(": ") + rule +
           QStringLiteral(", a zadato je ") + quotedInput(value);
}

QString emptyDevicePath()
{
    return QStringLiteral("--device: putanja uredjaja je prazna");
}

QString badRateOption(const QString &value)
{
    return optionRefused(QStringLiteral("rate"),
                         QStringLiteral("brzina mora biti ceo pozitivan broj b/s"), value);
}

QString portArgumentName()
{
    return QStringLiteral("N");
}

QString devicePathValueName()
{
    return QStringLiteral("PUTANJA");
}

QString rateValueName()
{
    return QStringLiteral("BPS");
}

QString millisecondsValueName()
{
    return QStringLiteral("MS");
}

QString windowProgramSummary()
{
    return QStringLiteral("Vorla generator: salje povorku bajtova na serijski port, jednom ili "
                          "periodicno. Bez opcija otvara prozor programa.");
}

} // namespace OperatorText
