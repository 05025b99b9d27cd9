#include "app/messageboxes.h"
#include "app/vorlagen.h"
#include "fakes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <limits>

class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void windowFrame();
    void baudRateList();
    void typedRateStaysAsTyped();
    void textBoxesUnlimited_data();
    void textBoxesUnlimited();
    void enterAndEscapeMeanNothing();
    void focusOrder();
    void resizeKeepsControls();
    void captionsFit_data();
    void captionsFit();
    void loadSetsLines();
    void loadRunsOnce();
    void boxesDriveLines();
    void buttonsReachTheSender();
    void boxesGoToTheMessenger();
    void realBoxes_data();
    void realBoxes();
    void closingReleasesThePort_data();
    void closingReleasesThePort();

private:
    template<typename T = QWidget> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    void showAndActivate();

    std::shared_ptr<FakeLine> m_line;
    FakeTimer *m_timer = nullptr;
    QPointer<VorlaGen> m_window;
    RecordingMessenger m_messages;
};

void tst_Window::init()
{
    m_line = std::make_shared<FakeLine>();
    auto timer = std::make_unique<FakeTimer>();
    m_timer = timer.get();
    PortMap map([] { return QStringList{QStringLiteral("/dev/ttyUSB0")}; },
                QStringLiteral("/nonexistent-vorlagen-links"));
    const auto line = m_line;
    m_window = new VorlaGen([line] { return std::make_unique<FakeDevice>(line); }, std::move(map),
                            std::move(timer));
    m_messages.boxes.clear();
    m_window->setMessenger(&m_messages);
}

void tst_Window::cleanup()
{
    delete m_window.data();
    m_timer = nullptr;
}

void tst_Window::showAndActivate()
{
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

// The form as drawn: twips / 15, relative to the frame a control sits in.
void tst_Window::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("rect");

    auto row = [](const char *name, const char *kind, const char *parent, const char *text,
                  QRect rect) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind)
                            << QString::fromLatin1(parent) << QString::fromLatin1(text) << rect;
    };
    row("Frame1", "QGroupBox", "VorlaGen", "Podesavanja", QRect(8, 8, 185, 177));
    row("Label4", "QLabel", "Frame1", "Port:", QRect(32, 32, 25, 17));
    row("txtPort", "QLineEdit", "Frame1", "1", QRect(56, 28, 25, 21));
    row("Label1", "QLabel", "Frame1", "b/s:", QRect(32, 56, 25, 17));
    row("cBaudRate", "QComboBox", "Frame1", "115200", QRect(56, 56, 81, 21));
    row("Label2", "QLabel", "Frame1", "Perioda:", QRect(16, 85, 41, 17));
    row("txtPerioda", "QLineEdit", "Frame1", "100", QRect(56, 80, 65, 21));
    row("Label3", "QLabel", "Frame1", "ms", QRect(136, 87, 17, 16));
    row("chkDTR", "QCheckBox", "Frame1", "DTR", QRect(56, 112, 73, 25));
    row("chkRTS", "QCheckBox", "Frame1", "RTS", QRect(56, 144, 57, 17));
    row("Frame2", "QGroupBox", "VorlaGen", "Slanje povorke", QRect(200, 8, 121, 137));
    row("cmdJednom", "QPushButton", "Frame2", "Jednom", QRect(16, 24, 89, 25));
    row("cmdPonavljanje", "QPushButton", "Frame2", "Ponavljanje", QRect(16, 56, 89, 25));
    row("cmdStop", "QPushButton", "Frame2", "STOP", QRect(16, 88, 89, 25));
    row("Frame3", "QGroupBox", "VorlaGen", "Podaci za slanje", QRect(8, 192, 569, 57));
    row("txtPodaciZaSlanje", "QLineEdit", "Frame3", "F0 F0 F0 F0 F0 F0 F0 F0 F0 F0",
        QRect(8, 24, 553, 21));
    row("cmdKraj", "QPushButton", "VorlaGen", "Kraj", QRect(480, 8, 97, 25));
}

void tst_Window::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QString, text);
    QFETCH(QRect, rect);

    QWidget *widget = m_window->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), kind);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->geometry(), rect);

    QString shown;
    if (auto *label = qobject_cast<QLabel *>(widget))
        shown = label->text();
    else if (auto *edit = qobject_cast<QLineEdit *>(widget))
        shown = edit->text();
    else if (auto *combo = qobject_cast<QComboBox *>(widget))
        shown = combo->currentText();
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        shown = button->text();
    else if (auto *frame = qobject_cast<QGroupBox *>(widget))
        shown = frame->title();
    QCOMPARE(shown, text);
    if (qobject_cast<QLabel *>(widget) || qobject_cast<QGroupBox *>(widget))
        QCOMPARE(widget->focusPolicy(), Qt::NoFocus);
}

void tst_Window::windowFrame()
{
    QVERIFY(m_window->windowTitle().startsWith(QLatin1String("Vorla generator - ")));
    QVERIFY(m_window->windowTitle().size() > 18);
    const Qt::WindowFlags flags = m_window->windowFlags();
    QVERIFY(m_window->isWindow());
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(m_window->minimumSize() != m_window->maximumSize()); // the border resizes
    QVERIFY(!m_window->layout());

    const QList<QSize> sizes = m_window->windowIcon().availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)));
    QVERIFY(sizes.contains(QSize(32, 32)));

    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QCOMPARE(m_window->size(), QSize(581, 257));
    const QPoint screenCentre = m_window->screen()->availableGeometry().center();
    const QPoint windowCentre = m_window->frameGeometry().center();
    QVERIFY2((screenCentre - windowCentre).manhattanLength() <= 2,
             qPrintable(QStringLiteral("window centre %1,%2, screen centre %3,%4")
                            .arg(windowCentre.x())
                            .arg(windowCentre.y())
                            .arg(screenCentre.x())
                            .arg(screenCentre.y())));
}

void tst_Window::baudRateList()
{
    auto *rates = child<QComboBox>("cBaudRate");
    QStringList entries;
    for (int i = 0; i < rates->count(); ++i)
        entries << rates->itemText(i);
    QCOMPARE(entries, QStringList({"110", "300", "600", "1200", "2400", "4800", "9600", "19200",
                                   "38400", "57600", "115200"}));
    QVERIFY(rates->isEditable());
    QCOMPARE(rates->currentText(), QStringLiteral("115200"));
    QCOMPARE(m_window->bitRateText(), QStringLiteral("115200"));

    rates->setCurrentIndex(6);
    QCOMPARE(m_window->bitRateText(), QStringLiteral("9600"));
}

// Neither completed from the list nor added to it, even after Enter; the next set-up gets it.
void tst_Window::typedRateStaysAsTyped()
{
    showAndActivate();
    auto *rates = child<QComboBox>("cBaudRate");
    rates->setFocus();
    rates->lineEdit()->clear();
    QTest::keyClicks(rates->lineEdit(), QStringLiteral("1152"));
    QCOMPARE(rates->currentText(), QStringLiteral("1152"));
    rates->lineEdit()->clear();
    QTest::keyClicks(rates->lineEdit(), QStringLiteral("250000"));
    QTest::keyClick(rates->lineEdit(), Qt::Key_Return);
    QCOMPARE(rates->currentText(), QStringLiteral("250000"));
    QCOMPARE(rates->count(), 11);
    QCOMPARE(rates->findText(QStringLiteral("250000")), -1);

    QCOMPARE(m_window->SetUpCommPort(), qint16(0));
    QCOMPARE(m_window->port().settings(), QStringLiteral("250000,n,8,1"));
    QCOMPARE(m_line->openRate, 250000);
    m_window->CloseCommPort();
}

void tst_Window::textBoxesUnlimited_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("txtPort") << QStringLiteral("txtPort");
    QTest::newRow("txtPerioda") << QStringLiteral("txtPerioda");
    QTest::newRow("txtPodaciZaSlanje") << QStringLiteral("txtPodaciZaSlanje");
    QTest::newRow("cBaudRate") << QStringLiteral("cBaudRate");
}

void tst_Window::textBoxesUnlimited()
{
    QFETCH(QString, name);
    QWidget *widget = m_window->findChild<QWidget *>(name);
    QVERIFY(widget);
    auto *combo = qobject_cast<QComboBox *>(widget);
    QLineEdit *edit = combo ? combo->lineEdit() : qobject_cast<QLineEdit *>(widget);
    QVERIFY(edit);
    QCOMPARE(edit->maxLength(), std::numeric_limits<int>::max());
    QVERIFY(!edit->validator());
    QVERIFY(edit->inputMask().isEmpty());

    // Longer than Qt's default limit, with what no number or train would hold.
    QString text = QStringLiteral("F0 zz -1 \t;") + QChar(0x0161) + QChar(0x00e9);
    while (text.size() < 70000)
        text += text;
    edit->setText(text);
    QCOMPARE(edit->text(), text);
    const QString read = name == QLatin1String("txtPort")      ? m_window->portText()
                         : name == QLatin1String("txtPerioda") ? m_window->periodText()
                         : name == QLatin1String("cBaudRate")  ? m_window->bitRateText()
                                                               : m_window->trainText();
    QCOMPARE(read, text);
}

void tst_Window::enterAndEscapeMeanNothing()
{
    showAndActivate();
    const auto buttons = m_window->findChildren<QPushButton *>();
    QCOMPARE(buttons.size(), 4);
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (QPushButton *button : buttons) {
        QVERIFY(!button->autoDefault());
        QVERIFY(!button->isDefault());
        spies.push_back(std::make_unique<QSignalSpy>(button, &QPushButton::clicked));
    }
    for (const char *name : {"txtPerioda", "txtPodaciZaSlanje", "chkDTR"}) {
        QWidget *widget = child(name);
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_Return);
        QTest::keyClick(widget, Qt::Key_Enter);
        QTest::keyClick(widget, Qt::Key_Escape);
    }
    for (const auto &spy : spies)
        QCOMPARE(spy->count(), 0);
    QVERIFY(m_window);
    QVERIFY(m_window->isVisible());
    QVERIFY(m_line->calls.isEmpty()); // no port was touched
}

void tst_Window::focusOrder()
{
    showAndActivate();
    QCOMPARE(QApplication::focusWidget(), child("chkDTR"));

    const QStringList order = {"chkRTS",         "cBaudRate", "txtPerioda",        "cmdJednom",
                               "cmdPonavljanje", "cmdStop",   "txtPodaciZaSlanje", "cmdKraj",
                               "txtPort",        "chkDTR"};
    QStringList visited;
    for (int i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        // An editable combo box gives the focus to its line edit.
        if (focus && qobject_cast<QComboBox *>(focus->parentWidget()))
            focus = focus->parentWidget();
        visited << (focus ? focus->objectName() : QStringLiteral("(none)"));
    }
    QCOMPARE(visited, order);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), child("txtPort"));
}

void tst_Window::resizeKeepsControls()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QHash<QWidget *, QRect> before;
    const auto widgets = m_window->findChildren<QWidget *>();
    for (QWidget *widget : widgets)
        if (!widget->objectName().isEmpty() &&
            !widget->objectName().startsWith(QLatin1String("qt_")))
            before.insert(widget, widget->geometry());
    QVERIFY(before.size() >= 17);

    for (const QSize size : {QSize(900, 600), QSize(200, 100), QSize(581, 257)}) {
        m_window->resize(size);
        QTRY_COMPARE(m_window->size(), size);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QCOMPARE(it.key()->geometry(), it.value());
    }
}

void tst_Window::captionsFit_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name :
         {"Frame1", "Label4", "Label1", "Label2", "Label3", "chkDTR", "chkRTS", "Frame2",
          "cmdJednom", "cmdPonavljanje", "cmdStop", "Frame3", "cmdKraj"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// With the style's own margins: what the style leaves for the text must hold all of it.
void tst_Window::captionsFit()
{
    QFETCH(QString, name);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QWidget *widget = m_window->findChild<QWidget *>(name);
    QVERIFY(widget);
    const QFontMetrics metrics(widget->font());
    QStyle *style = widget->style();
    QString text;
    QRect room;

    if (auto *label = qobject_cast<QLabel *>(widget)) {
        text = label->text();
        room = label->contentsRect();
    } else if (auto *box = qobject_cast<QCheckBox *>(widget)) {
        text = box->text();
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = text;
        room = style->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        text = button->text();
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = text;
        room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    } else if (auto *frame = qobject_cast<QGroupBox *>(widget)) {
        text = frame->title();
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = text;
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        option.textAlignment = frame->alignment();
        // The style sizes the title's box from the text; it must stay inside the frame.
        const QRect title =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame);
        QVERIFY(title.width() >= metrics.horizontalAdvance(text));
        QVERIFY(frame->rect().contains(title));
        return;
    }
    QVERIFY(!text.isEmpty());
    QVERIFY2(metrics.horizontalAdvance(text) <= room.width(),
             qPrintable(QStringLiteral("\"%1\" needs %2 px, has %3 (font %4)")
                            .arg(text)
                            .arg(metrics.horizontalAdvance(text))
                            .arg(room.width())
                            .arg(widget->font().toString())));
    QVERIFY2(metrics.height() <= widget->height(),
             qPrintable(QStringLiteral("\"%1\" is %2 px high, has %3")
                            .arg(text)
                            .arg(metrics.height())
                            .arg(widget->height())));
}

void tst_Window::loadSetsLines()
{
    QVERIFY(m_line->calls.isEmpty());
    m_window->show();
    QCOMPARE(child<QCheckBox>("chkDTR")->checkState(), Qt::Checked);
    QCOMPARE(child<QCheckBox>("chkRTS")->checkState(), Qt::Unchecked);
    QVERIFY(m_window->port().DTREnable());
    QVERIFY(!m_window->port().RTSEnable());
    QVERIFY(!m_window->port().portOpen());
    QVERIFY(m_line->calls.isEmpty()); // set while closed: no device yet
    QVERIFY(m_timer->isEnabled());
    QCOMPARE(m_timer->interval(), 0);
    QCOMPARE(m_window->sender().brojBajtova(), qint16(0));
    const PovorkaBuffer povorka = m_window->sender().povorka();
    QVERIFY(std::all_of(povorka.begin(), povorka.end(), [](quint8 b) { return b == 0; }));
    QVERIFY(m_messages.boxes.isEmpty());
}

void tst_Window::loadRunsOnce()
{
    m_window->show();
    child<QCheckBox>("chkDTR")->click();
    child<QCheckBox>("chkRTS")->click();
    m_window->hide();
    m_window->show();
    QCOMPARE(child<QCheckBox>("chkDTR")->checkState(), Qt::Unchecked);
    QCOMPARE(child<QCheckBox>("chkRTS")->checkState(), Qt::Checked);
    QVERIFY(!m_window->port().DTREnable());
    QVERIFY(m_window->port().RTSEnable());
}

// A click and a state set from code both reach the line.
void tst_Window::boxesDriveLines()
{
    showAndActivate();
    auto *dtr = child<QCheckBox>("chkDTR");
    auto *rts = child<QCheckBox>("chkRTS");
    QTest::mouseClick(dtr, Qt::LeftButton, {}, QPoint(6, dtr->height() / 2));
    QCOMPARE(dtr->checkState(), Qt::Unchecked);
    QVERIFY(!m_window->port().DTREnable());
    QTest::keyClick(rts, Qt::Key_Space);
    QVERIFY(m_window->port().RTSEnable());

    m_window->setDtrState(Panel::Checked);
    QVERIFY(m_window->port().DTREnable());
    QCOMPARE(m_window->dtrState(), int(Panel::Checked));
    m_window->setRtsState(Panel::Grayed);
    QCOMPARE(m_window->rtsState(), int(Panel::Grayed));
    QVERIFY(m_window->port().RTSEnable()); // grayed changes nothing
    // The operator's clicks never lead back into grayed.
    for (const Qt::CheckState expected : {Qt::Checked, Qt::Unchecked, Qt::Checked, Qt::Unchecked}) {
        rts->click();
        QCOMPARE(rts->checkState(), expected);
        QCOMPARE(m_window->port().RTSEnable(), expected == Qt::Checked);
    }
    m_window->setRtsState(Panel::Unchecked);
    QVERIFY(!m_window->port().RTSEnable());

    // The lines apply to the next open, and while it is open.
    QCOMPARE(m_window->SetUpCommPort(), qint16(0));
    QVERIFY(m_line->dtr);
    QVERIFY(!m_line->rts);
    rts->click();
    QVERIFY(m_line->rts);
    m_window->CloseCommPort();
}

void tst_Window::buttonsReachTheSender()
{
    m_window->show();
    child<QPushButton>("cmdJednom")->click();
    QCOMPARE(m_line->writes, QList<QByteArray>{QByteArray(10, char(0xF0))});
    QCOMPARE(m_line->openPath, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(m_line->openRate, 115200);
    QVERIFY(!m_window->port().portOpen());

    child<QLineEdit>("txtPodaciZaSlanje")->setText(QStringLiteral("01 02"));
    child<QPushButton>("cmdPonavljanje")->click();
    QVERIFY(m_window->port().portOpen());
    QVERIFY(m_timer->isEnabled());
    QCOMPARE(m_timer->interval(), 100);
    QCOMPARE(m_line->writes.size(), 1); // nothing at the click
    QVERIFY(m_timer->tick());
    QCOMPARE(m_line->writes.last(), QByteArray("\x01\x02", 2));

    child<QPushButton>("cmdStop")->click();
    QVERIFY(!m_timer->isEnabled());
    QVERIFY(!m_window->port().portOpen());
    QVERIFY(m_messages.boxes.isEmpty());
}

void tst_Window::boxesGoToTheMessenger()
{
    m_window->show();
    child<QLineEdit>("txtPort")->setText(QStringLiteral("x"));
    child<QPushButton>("cmdJednom")->click();
    QCOMPARE(m_messages.boxes.size(), 1);
    QCOMPARE(m_messages.boxes.at(0).kind, QStringLiteral("critical"));
    QCOMPARE(m_messages.boxes.at(0).title, QStringLiteral("Greska !"));
    QVERIFY(m_messages.boxes.at(0).text.endsWith(QLatin1String("\r\n Pokusajte ponovo !")));
    QVERIFY(m_line->calls.isEmpty());
}

void tst_Window::realBoxes_data()
{
    QTest::addColumn<bool>("critical");
    QTest::newRow("critical") << true;
    QTest::newRow("information") << false;
}

// The boxes the operator sees: modal, the right icon, one OK, on top of the window.
void tst_Window::realBoxes()
{
    QFETCH(bool, critical);
    m_window->setMessenger(nullptr);
    showAndActivate();

    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QWidget *parent = nullptr;
    bool modal = false;
    bool seen = false;
    std::function<void()> inspect = [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, inspect);
            return;
        }
        seen = true;
        icon = box->icon();
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        parent = box->parentWidget();
        modal = box->isModal();
        box->button(QMessageBox::Ok)->click();
    };
    QTimer::singleShot(0, inspect);
    if (critical)
        m_window->critical(QStringLiteral("Greska !"), QStringLiteral("tekst"));
    else
        m_window->information(QStringLiteral("Informacija !"), QStringLiteral("tekst"));

    QVERIFY(seen);
    QCOMPARE(icon, critical ? QMessageBox::Critical : QMessageBox::Information);
    QCOMPARE(title, critical ? QStringLiteral("Greska !") : QStringLiteral("Informacija !"));
    QCOMPARE(text, QStringLiteral("tekst"));
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(parent, m_window.data());
    QVERIFY(modal);
}

void tst_Window::closingReleasesThePort_data()
{
    QTest::addColumn<bool>("byKraj");
    QTest::newRow("Kraj") << true;
    QTest::newRow("close box") << false;
}

// While repeating: the window goes, the timer stops, the port is closed (not dropped).
void tst_Window::closingReleasesThePort()
{
    QFETCH(bool, byKraj);
    showAndActivate();
    child<QPushButton>("cmdPonavljanje")->click();
    QVERIFY(m_window->sender().isRepeating());
    QVERIFY(m_line->open);

    if (byKraj)
        child<QPushButton>("cmdKraj")->click();
    else
        m_window->windowHandle()->close();

    QTRY_VERIFY(m_window.isNull());
    QVERIFY(!m_line->open);
    QCOMPARE(m_line->closes, 1);
    QCOMPARE(m_line->calls.last(), QStringLiteral("close"));
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
