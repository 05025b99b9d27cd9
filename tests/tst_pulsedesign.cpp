// SPDX-License-Identifier: MIT
#include "cli/pulseplan.h"
#include "train/fields.h"
#include "train/pulsedesign.h"
#include "train/waveform.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;
using namespace PulseDesign;

namespace {

QString repeated(const QString &text, int times)
{
    return QStringList(times, text).join(u' ');
}

double errorAt(int bits, double rate, double seconds)
{
    return std::abs(bits / (rate * seconds) - 1.0);
}

} // namespace

class tst_PulseDesign : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void linesAgreeWithTheModel();
};

// What vorlagen-send --plan prints (the lines given), or the refusal it reports.
void tst_PulseDesign::answers_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("standard");
    QTest::addColumn<QString>("tolerance"); // percent; empty: the default
    QTest::addColumn<bool>("repeating");
    QTest::addColumn<QString>("output");
    const QString square = repeated(u"L26us H26us"_s, 5);
    // For Jednom, with the default tolerance; any rate unless `standard`.
    const auto row = [](const char *name, const QString &pattern, const QString &output,
                        bool standard = false) {
        QTest::newRow(name) << pattern << standard << QString() << false << output;
    };

    row("one low pulse, exact", u"L100us"_s,
        u"Brzina: 10000 b/s\nPovorka: FF\n1 bajt, na liniji 1 ms, najveca greska 0,00 % "
        "(dozvoljeno 2 %)\n#  Nivo  Zeljeno  Dobijeno        Greska\n"
        "1  L     100 us   100 us (1 bit)  0,00 %\n"_s);
    row("square wave: byte 55 at a standard rate", square,
        u"Brzina: 38400 b/s\nPovorka: 55\n1 bajt, na liniji 260,4 us, najveca greska 0,16 % "
        "(dozvoljeno 2 %)\n"
        " #  Nivo  Zeljeno  Dobijeno                        Greska\n"
        " 1  L     26 us    26,04 us (1 bit)                0,16 %\n"_s,
        true);
    // Five bits a pulse at 192308 b/s would be more exact still, by less than 0,01 %.
    row("square wave at any rate: one bit a pulse, its most exact rate", square,
        u"Brzina: 38462 b/s\nPovorka: 55\n"_s);
    // 19615 b/s makes it in one byte, but 1,96 % off.
    row("the smallest error at any rate, in more bytes", u"L104us H104us L150us"_s,
        u"Brzina: 47372 b/s\nPovorka: F0 C0\n2 bajta, na liniji 422,2 us, najveca greska 1,49 %"_s);
    row("idle before and after a burst", u"H1ms L52us H52us L104us H52us"_s,
        u"Brzina: 19231 b/s\nPovorka: F9\n1 bajt, na liniji 520 us, najveca greska 0,00 % "
        "(dozvoljeno 2 %)\n"
        "#  Nivo  Zeljeno  Dobijeno                         Greska\n"
        "1  H     1 ms     mirovanje pre povorke\n"
        "2  L     52 us    52 us (1 bit)                    0,00 %\n"
        "3  H     52 us    52 us (1 bit)                    0,00 %\n"
        "4  L     104 us   104 us (2 bita)                  0,00 %\n"
        "5  H     52 us    312 us (6 bitova), pa mirovanje\n"_s);
    row("milliseconds, decimal comma and point", u"L1ms, H0,5ms; L0.25ms"_s,
        u"Brzina: 4000 b/s\nPovorka: D8\n"_s);
    // 38400 b/s makes it within 5 % too, but less exactly.
    QTest::newRow("a wider tolerance: the most exact standard rate, not the lowest")
        << u"L125us"_s << true << u"5"_s << false
        << u"Brzina: 57600 b/s\nPovorka: C0\n1 bajt, na liniji 173,6 us, najveca greska 2,78 % "
           "(dozvoljeno 5 %)\n"_s;
    row("1001 bytes: Jednom takes them", repeated(square, 1001),
        u"Brzina: 38400 b/s\nPovorka: "_s + repeated(u"55"_s, 1001) + u"\n"_s, true);
    QTest::newRow("1001 bytes: too long for Ponavljanje")
        << repeated(square, 1001) << true << u""_s << true
        << u"Impulsi ne staju u povorku od najvise 1000 bajtova."_s;

    row("no standard rate makes 100 us", u"L100us"_s,
        u"Impuls 1 (\"L100us\") ne traje ceo broj bitova ni pri jednoj standardnoj brzini "
        "(najmanja greska 4,17 %, dozvoljeno 2 %)."_s,
        true);
    row("low pulse longer than 9 bits", u"L26us H26us L260us"_s,
        u"Impuls 3 (\"L260us\") je duzi od 9 bitova pri svakoj brzini koja odgovara "
        "impulsima pre njega: nizak impuls u povorci je najvise start bit i 8 nula."_s);
    row("high pulse longer than 9 bits", u"H5ms L104us H1ms L104us"_s,
        u"Impuls 3 (\"H1ms\") je duzi od 9 bitova pri svakoj standardnoj brzini koja "
        "odgovara impulsima pre njega: visok impuls u povorci je najvise 8 jedinica i stop "
        "bit."_s,
        true);
    row("no whole number of bits", u"L1ms H0.5ms L0.2ms"_s,
        u"Impuls 3 (\"L0.2ms\") ne traje ceo broj bitova ni pri jednoj brzini koja odgovara "
        "impulsima pre njega (najmanja greska 15,0 %, dozvoljeno 2 %)."_s);
    row("the frame has no room for it", u"L10us H10us L80us"_s,
        u"Impuls 3 (\"L80us\") ne staje u okvir bajta (start bit 0, 8 bitova podataka, stop "
        "bit 1) na tom mestu ni pri jednoj brzini koja odgovara impulsima pre njega: nizak "
        "impuls bi pokrio stop bit."_s);
    row("shorter than a bit at the highest rate", u"L0.0001us"_s,
        u"Impuls 1 (\"L0.0001us\") je kraci od jednog bita i pri najvecoj brzini, "
        "2147483647 b/s."_s);
    row("longer than 9 bits at 1 b/s", u"L9500ms"_s,
        u"Impuls 1 (\"L9500ms\") je duzi od 9 bitova i pri najmanjoj brzini, 1 b/s: nizak "
        "impuls u povorci je najvise start bit i 8 nula."_s);
    row("no unit, named and cut short", u"L26us H26 L26us"_s,
        u"Impuls 2 (\"H26\") nije razumljiv: pise se L ili H, trajanje i jedinica us ili ms, "
        "npr. L26us ili H0,5ms."_s);
    row("zero length", u"L0.0us"_s,
        u"Impuls 1 (\"L0.0us\") traje 0; trajanje mora biti vece od nule."_s);
    row("two lows in a row", u"L26us l26us"_s,
        u"Impuls 2 (\"l26us\") ima isti nivo kao impuls pre njega; nivoi se smenjuju (L, H, "
        "L ...), pa ih spojite u jedan impuls."_s);
    row("idle only", u"H100us"_s,
        u"Nema niskog impulsa (L): povorka pocinje start bitom, a bez "
        "njega linija samo miruje (visoko)."_s);
    row("nothing", u" , "_s,
        u"Upisite impulse, npr. L26us H26us L26us H26us (L nisko, H "
        "visoko, trajanje u us ili ms)."_s);
    QTest::newRow("tolerance above 50 %")
        << u"L100us"_s << false << u"50,5"_s << false
        << u"--tolerance: greska je broj procenata od 0 do 50, a zadato je \"50,5\""_s;
}

void tst_PulseDesign::answers()
{
    QFETCH(QString, pattern);
    QFETCH(bool, standard);
    QFETCH(QString, tolerance);
    QFETCH(bool, repeating);
    QFETCH(QString, output);
    const PulsesAnswer answer = answerPulses(
        {pattern, standard, tolerance.isEmpty() ? std::nullopt : std::optional<QString>(tolerance),
         repeating});
    if (!answer.ok()) {
        QCOMPARE(answer.refusal, output);
        return;
    }
    QCOMPARE(answer.plan.left(output.size()), output);
    QVERIFY(answer.plan.startsWith(
        u"Brzina: %1 b/s\nPovorka: %2\n"_s.arg(answer.rateText, answer.trainText)));
}

// Whatever the designer answers, the waveform model shows exactly the widths it claims, the
// train text gives its bytes and the port takes its rate. Patterns from real trains (with some
// jitter) must be made.
void tst_PulseDesign::linesAgreeWithTheModel()
{
    QRandomGenerator random(22);
    const auto logUniform = [&](double low, double high) {
        return low * std::pow(high / low, random.generateDouble());
    };
    int designs = 0;
    int refusals = 0;
    for (int round = 0; round < 3000; ++round) {
        const bool realTrain = round % 2 == 0;
        Options options;
        options.rates = random.bounded(2) ? Rates::Standard : Rates::Any;
        options.tolerance = random.bounded(4) == 0 ? 0.1 : 0.02;
        QStringList tokens;
        const auto add = [&](bool high, double seconds) {
            tokens << (high ? u"H"_s : u"L"_s) + QString::number(seconds * 1e6, 'f', 3) + u"us"_s;
        };
        if (realTrain) { // a real train at a rate, each width off by up to 0,5 %
            QByteArray bytes;
            for (int i = random.bounded(1, 7); i > 0; --i)
                bytes.append(char(random.bounded(256)));
            const qint32 rate = options.rates == Rates::Standard
                                    ? Fields::kStandardBitRates[random.bounded(11)]
                                    : qint32(logUniform(50, 3e6));
            if (random.bounded(2))
                add(true, logUniform(1e-6, 1e-2));
            const auto runs = lineRuns(bytes);
            for (int i = 0; i < runs.size() - (random.bounded(2) ? 0 : 1); ++i)
                add(runs[i].level,
                    runs[i].bits / double(rate) * (1 + (random.generateDouble() - 0.5) / 100));
        } else { // any widths
            bool high = random.bounded(4) == 0;
            for (int i = random.bounded(1, 14); i > 0; --i, high = !high)
                add(high, logUniform(1e-6, 1e-2));
        }
        const QString pattern = tokens.join(u' ');
        const Answer answer = design(pattern, options);
        const QByteArray where = pattern.toLatin1();
        if (realTrain)
            QVERIFY2(answer.design, where + " " + answer.refusal.toLatin1());
        if (!answer.design) {
            ++refusals;
            continue;
        }
        ++designs;
        const Design &made = *answer.design;
        QCOMPARE(Fields::bitRate(QString::number(made.bitRate)), made.bitRate);
        QVERIFY(made.bytes.size() <= trainCapacity(Terminator::Zero));
        QCOMPARE(summarizeLine(trainText(made.bytes), u"1"_s, u"0"_s, 2000).firstBytes, made.bytes);
        // (level, bits) per run: as the model shows the bytes, and as the designer claims them.
        QList<QPair<bool, qint64>> model, claimed;
        for (const LineRun &run : lineRuns(made.bytes))
            model.append({run.level, run.bits});
        for (const MadePulse &pulse : made.pulses) {
            if (pulse.role != Role::Train)
                continue;
            claimed.append({pulse.wanted.level == Level::High, pulse.bits});
            QCOMPARE(pulse.error, errorAt(pulse.bits, made.bitRate, pulse.wanted.seconds));
            QVERIFY2(pulse.error <= options.tolerance + 1e-9, where);
        }
        claimed.append({true, made.trailingBits}); // the stop bits and the idle line after
        QVERIFY2(model == claimed, where);
        if (options.rates == Rates::Standard)
            QVERIFY(std::find(std::begin(Fields::kStandardBitRates),
                              std::end(Fields::kStandardBitRates),
                              made.bitRate) != std::end(Fields::kStandardBitRates));
    }
    qInfo("%d designs, %d refusals", designs, refusals);
    QVERIFY(designs > 1000 && refusals > 300);
}

QTEST_GUILESS_MAIN(tst_PulseDesign)
#include "tst_pulsedesign.moc"
