// SPDX-License-Identifier: MIT
#pragma once

#include "train/pulsedesign.h"

#include <QDialog>
#include <QWidget>
#include <optional>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QVBoxLayout;

// The line a design puts on TX, drawn the way the preview draws a train (idle high, the same
// colour), with the wanted pulses under it in grey: where the two part, a pulse is off.
class PulseTrace : public QWidget
{
    Q_OBJECT

public:
    explicit PulseTrace(QWidget *parent = nullptr);

    void setDesign(const std::optional<PulseDesign::Design> &design);
    QSize sizeHint() const override;
    static QColor wantedColor();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<PulseDesign::Design> m_design;
};

// "Impulsi...": the operator writes the pulses the TX line must carry, picks the rates and the
// tolerance, and sees the rate, the train and each pulse wanted against made; "Primeni" hands
// the rate and the train to the window's fields. A shell over PulseDesign: every text and every
// decision comes from there.
class PulseDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PulseDialog(QWidget *parent = nullptr);

    const std::optional<PulseDesign::Design> &design() const { return m_design; }

signals:
    void applied(const QString &rateText, const QString &trainText);

private:
    QGridLayout *makeFields();
    void makeAnswer(QVBoxLayout *layout);
    QHBoxLayout *makeButtons();
    PulseDesign::Options options() const;
    void redesign();
    void apply();

    QLineEdit *m_pattern = nullptr;
    QCheckBox *m_standardRates = nullptr;
    QComboBox *m_tolerance = nullptr;
    QLabel *m_result = nullptr; // the rate, or why there is none
    QLineEdit *m_train = nullptr;
    QLabel *m_size = nullptr;
    PulseTrace *m_trace = nullptr;
    QTreeWidget *m_pulses = nullptr;
    QPushButton *m_apply = nullptr;
    std::optional<PulseDesign::Design> m_design;
};
