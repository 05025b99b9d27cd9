// SPDX-License-Identifier: MIT
#include "app/linepreview.h"
#include "app/pulsedialog.h"
#include "app/qtstrings.h"
#include "app/vorlagen.h"
#include "fakes.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fixedFormCentred();
    void baudRatesOfferedAndTypedRateKept();
    void focusOrder();
    void lineBoxes();
    void pastedMegabyteIsCutAndRefused_data();
    void pastedMegabyteIsCutAndRefused();
    void realBoxIsModalWithOneOk();
    void pulseDialogWritesTheFields_data();
    void pulseDialogWritesTheFields();

private:
    template<typename T = QWidget> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    void showAndActivate()
    {
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }

    std::shared_ptr<FakeLine> m_line;
    QPointer<VorlaGen> m_window;
    RecordingMessenger m_messages;
};

void tst_Window::init()
{
    m_line = std::make_shared<FakeLine>();
    m_messages = RecordingMessenger();
    m_window = new VorlaGen(fakeParts(m_line, 1));
    m_window->setMessenger(&m_messages);
}

void tst_Window::cleanup()
{
    delete m_window.data();
}

// A fixed form in a resizable window, centred at first: the controls stay where they are, and
// every caption fits what the style leaves for it in the window's own font (the form was drawn
// for an 8-point sans-serif, and a wider fallback font must not cut a word).
void tst_Window::fixedFormCentred()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QCOMPARE(m_window->size(), QSize(581, 257));
    const QPoint offCentre =
        m_window->screen()->availableGeometry().center() - m_window->frameGeometry().center();
    QVERIFY(offCentre.manhattanLength() <= 2);

    QHash<QWidget *, QRect> before;
    int captions = 0;
    for (QWidget *widget : m_window->findChildren<QWidget *>()) {
        if (!widget->objectName().isEmpty() && !widget->objectName().startsWith("qt_"))
            before.insert(widget, widget->geometry());
        if (qobject_cast<QLabel *>(widget) || qobject_cast<QAbstractButton *>(widget) ||
            qobject_cast<QGroupBox *>(widget)) {
            ++captions;
            QVERIFY2(widget->sizeHint().width() <= widget->width(),
                     qPrintable(widget->objectName()));
        }
    }
    QVERIFY(before.size() >= 17 && captions >= 13);
    for (const QSize size : {QSize(900, 600), QSize(200, 100)}) {
        m_window->resize(size);
        QTRY_COMPARE(m_window->size(), size);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QCOMPARE(it.key()->geometry(), it.value());
    }
}

// A typed rate is neither completed from the list nor added to it, and the next open uses it.
void tst_Window::baudRatesOfferedAndTypedRateKept()
{
    auto *rates = child<QComboBox>("cBaudRate");
    QStringList entries;
    for (int i = 0; i < rates->count(); ++i)
        entries << rates->itemText(i);
    QCOMPARE(entries, QStringList({"110", "300", "600", "1200", "2400", "4800", "9600", "19200",
                                   "38400", "57600", "115200"}));

    showAndActivate();
    rates->setFocus();
    rates->lineEdit()->clear();
    QTest::keyClicks(rates->lineEdit(), u"1152"_s);
    QTest::keyClick(rates->lineEdit(), Qt::Key_Return);
    QCOMPARE(m_window->bitRateText(), u"1152"_s);
    QCOMPARE(rates->count(), 11);
    QCOMPARE(m_window->SetUpCommPort(), qint16(0));
    QCOMPARE(m_line->calls.first(), u"open /dev/ttyUSB0 1152 dtr=1 rts=0"_s);
}

void tst_Window::focusOrder()
{
    showAndActivate();
    QCOMPARE(QApplication::focusWidget(), child("chkDTR"));
    const QStringList order = {
        "chkRTS",  "cBaudRate",         "txtPerioda", "cmdJednom", "cmdPonavljanje",
        "cmdStop", "txtPodaciZaSlanje", "cmdKraj",    "txtPort",   "cmdImpulsi",
        "chkDTR"};
    QStringList visited;
    for (int i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        // An editable combo box gives the focus to its line edit.
        if (focus && qobject_cast<QComboBox *>(focus->parentWidget()))
            focus = focus->parentWidget();
        visited << (focus ? focus->objectName() : u"(none)"_s);
    }
    QCOMPARE(visited, order);
}

// A later show keeps the operator's choice (the first one turned DTR on). Grayed comes from code
// only: clicks go on and off from there.
void tst_Window::lineBoxes()
{
    m_window->show();
    auto *dtr = child<QCheckBox>("chkDTR");
    auto *rts = child<QCheckBox>("chkRTS");
    dtr->click();
    m_window->hide();
    m_window->show();
    QCOMPARE(dtr->checkState(), Qt::Unchecked);
    QVERIFY(!m_window->port().DTREnable());

    m_window->setRtsState(Panel::CheckState::Grayed);
    QCOMPARE(m_window->rtsState(), Panel::CheckState::Grayed);
    for (const Qt::CheckState expected : {Qt::Checked, Qt::Unchecked, Qt::Checked}) {
        rts->click();
        QCOMPARE(rts->checkState(), expected);
        QCOMPARE(m_window->port().RTSEnable(), expected == Qt::Checked);
    }
}

void tst_Window::pastedMegabyteIsCutAndRefused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("character"); // a megabyte of it is pasted
    QTest::addColumn<QString>("start");     // of the box's text
    QTest::newRow("digits for the port") << "txtPort"
                                         << "7"
                                         << "Greska 102 - ";
    QTest::newRow("a train of E") << "txtPodaciZaSlanje"
                                  << "E"
                                  << "Povorka je preduga";
    // Two UTF-16 units a character: cut, it still makes more bytes than fit.
    QTest::newRow("a train of emoji")
        << "txtPodaciZaSlanje" << QString::fromUtf8("\U0001F600") << "Povorka je preduga";
}

// A field keeps only what a command can use; what it keeps is refused as the whole would be,
// with a short quote, and nothing reaches the port.
void tst_Window::pastedMegabyteIsCutAndRefused()
{
    QFETCH(QString, field);
    QFETCH(QString, character);
    QFETCH(QString, start);
    const QString pasted = character.repeated((1 << 20) / character.size());
    auto *edit = child<QLineEdit>(field.toLatin1().constData());
    edit->selectAll();
    edit->insert(pasted);
    QVERIFY(edit->text().size() < 10000);
    child<QPushButton>("cmdJednom")->click();
    QCOMPARE(m_messages.boxes.size(), 1);
    QVERIFY2(m_messages.boxes.first().text.startsWith(start), qPrintable(m_messages.boxes[0].text));
    QVERIFY(m_messages.boxes.first().text.size() < 300);
    QVERIFY(m_line->writes.isEmpty());
}

// The real box: critical, modal on the window, one OK; with Qt's own words translated as the
// start-up does: the box's button and the fields' menu.
void tst_Window::realBoxIsModalWithOneOk()
{
    QtStrings qtStrings;
    QCoreApplication::installTranslator(&qtStrings);
    m_window->setMessenger(nullptr);
    showAndActivate();
    // Looked for again and again while the box's own loop runs, until it is up.
    QString seen;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            watch.stop();
            seen = u"%1 %2 %3 %4 %5"_s.arg(box->icon())
                       .arg(box->windowTitle())
                       .arg(box->standardButtons())
                       .arg(box->isModal() && box->parentWidget() == m_window)
                       .arg(box->button(QMessageBox::Ok)->text());
            box->button(QMessageBox::Ok)->click();
        }
    });
    watch.start(10);
    m_window->critical(u"Greska !"_s, u"tekst"_s);
    QCOMPARE(seen, u"%1 Greska ! %2 1 U redu"_s.arg(QMessageBox::Critical).arg(QMessageBox::Ok));
    const std::unique_ptr<QMenu> menu(child<QLineEdit>("txtPort")->createStandardContextMenu());
    QStringList words;
    for (const QAction *action : menu->actions())
        words << action->text().section(QLatin1Char('\t'), 0, 0);
    QCOMPARE(words.join(QLatin1Char(',')), QStringLiteral("&Ponisti,Po&novi,,Ise&ci,&Kopiraj,"
                                                          "&Nalepi,Obrisi,,Izaberi sve"));
}

void tst_Window::pulseDialogWritesTheFields_data()
{
    QTest::addColumn<bool>("byClick"); // on the preview's line, or the button
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("standardRates");
    QTest::addColumn<QString>("rate"); // empty: refused, nothing changes
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("line clicked: byte 55 at 38400 b/s")
        << true << u"L26us H26us L26us H26us L26us H26us L26us H26us L26us H26us"_s << true
        << u"38400"_s << QByteArray("\x55");
    QTest::newRow("button: one pulse of 100 us")
        << false << u"H1ms L100us"_s << false << u"10000"_s << QByteArray("\xFF");
    QTest::newRow("refused") << false << u"L1ms H0.5ms L0.2ms"_s << false << QString()
                             << QByteArray();
}

// "Primeni" writes "b/s:" and "Podaci za slanje", and "Jednom" sends what they say; a refused
// pattern shows why and leaves both fields as they were.
void tst_Window::pulseDialogWritesTheFields()
{
    QFETCH(bool, byClick);
    QFETCH(QString, pattern);
    QFETCH(bool, standardRates);
    QFETCH(QString, rate);
    QFETCH(QByteArray, bytes);
    showAndActivate();
    if (byClick) {
        auto *preview = child<LinePreview>("linePreview");
        QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {},
                          preview->mapTo(m_window, preview->plotRect().center()));
    } else {
        child<QPushButton>("cmdImpulsi")->click();
    }
    auto *dialog = m_window->findChild<PulseDialog *>();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    dialog->findChild<QCheckBox *>(u"standardRates"_s)->setChecked(standardRates);
    dialog->findChild<QLineEdit *>(u"pattern"_s)->setText(pattern);
    auto *apply = dialog->findChild<QPushButton *>(u"apply"_s);
    const QString message = dialog->findChild<QLabel *>(u"result"_s)->text();
    QTest::mouseClick(apply, Qt::LeftButton);
    if (rate.isEmpty()) {
        QVERIFY2(message.startsWith(u"Impuls 3 (\"L0.2ms\")"_s), qPrintable(message));
        QVERIFY(!apply->isEnabled());
        QVERIFY(dialog->isVisible());
        QCOMPARE(m_window->bitRateText(), u"115200"_s);
        QCOMPARE(m_window->trainText(), u"F0 F0 F0 F0 F0 F0 F0 F0 F0 F0"_s);
        return;
    }
    QVERIFY(!dialog->isVisible());
    QCOMPARE(m_window->bitRateText(), rate);
    QCOMPARE(m_window->trainText(), QString::fromLatin1(bytes.toHex(' ').toUpper()));
    child<QPushButton>("cmdJednom")->click();
    QCOMPARE(m_line->calls.first(), u"open /dev/ttyUSB0 %1 dtr=1 rts=0"_s.arg(rate));
    QCOMPARE(m_line->writes, QList<QByteArray>{bytes});
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
