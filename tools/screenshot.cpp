// SPDX-License-Identifier: MIT
// vorlagen-screenshot OUT.png [PULSES.png]: the main window as it starts, drawn without a
// display, for the README (tools/screenshot.sh runs it beside a virtual port), and the pulse
// designer's dialog with an example. The window finds its ports as the program does, but gets a
// port object that never opens a device.

#include "app/vorlagen.h"
#include "texts/failures.h"
#include "train/precisetimer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPixmap>
#include <cstdio>

namespace {

class NoDevice : public PortDevice
{
public:
    std::optional<PortFailure> open(const QString &, qint32, bool, bool) override
    {
        return OperatorText::notASerialPort(QStringLiteral("nema uredjaja"));
    }
    bool isOpen() const override { return false; }
    std::optional<PortFailure> setDtr(bool) override { return std::nullopt; }
    std::optional<PortFailure> setRts(bool) override { return std::nullopt; }
    std::optional<PortFailure> write(const QByteArray &, qint64) override { return std::nullopt; }
    qint64 bytesWaiting() const override { return 0; }
    std::optional<PortFailure> close() override { return std::nullopt; }
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: vorlagen-screenshot OUT.png [PULSES.png]\n");
        return 2;
    }
    auto *window = new VorlaGen(Engine::Parts{[] { return std::make_unique<NoDevice>(); },
                                              PortMap(), std::make_unique<PreciseTimer>()});
    window->show();
    QApplication::processEvents();
    QList<QPixmap> pictures{window->grab()};
    if (argc == 3) {
        // The README's example: idle, a few pulses of one to three bits, idle.
        window->cmdImpulsi_Click();
        auto *dialog = window->findChild<QDialog *>(QStringLiteral("pulseDialog"));
        dialog->findChild<QCheckBox *>(QStringLiteral("standardRates"))->setChecked(true);
        dialog->findChild<QLineEdit *>(QStringLiteral("pattern"))
            ->setText(QStringLiteral("H1ms L52us H52us L156us H104us L52us H1ms"));
        QApplication::processEvents();
        pictures << dialog->grab();
    }
    delete window;
    for (int i = 0; i < pictures.size(); ++i) {
        if (!pictures[i].save(QString::fromLocal8Bit(argv[i + 1]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[i + 1]);
            return 1;
        }
    }
    return 0;
}
