#include "settings/VoiceSettingsTab.h"

#include "briefing/AppCoordinator.h"
#include "settings/AppSettings.h"
#include "settings/SettingsForm.h"
#include "settings/SpeedPictures.h"
#include "shell/DesktopActions.h"
#include "speech/Speaker.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vardelle {

const QString VoiceSettingsTab::sampleText = QStringLiteral(
    "Here is your security briefing. Three new stories since your last check, including an "
    "actively exploited vulnerability in a widely deployed V P N appliance.");

namespace {

const QString moreVoicesText = QStringLiteral(
    "Speech goes through speech-dispatcher, so it is free and works offline. To add voices, "
    "install more of its voice modules with your package manager, for example "
    "speech-dispatcher-espeak-ng, speech-dispatcher-rhvoice or a Piper voice for "
    "speech-dispatcher, and choose English voices. New voices show up in the list above after a "
    "restart of this app.");

int sliderPosition(double rate)
{
    if (!std::isfinite(rate))
        return VoiceSettingsTab::speedSteps / 2;
    return static_cast<int>(std::lround(std::clamp(rate, 0.0, 1.0) * VoiceSettingsTab::speedSteps));
}

// A picture at one end of the speed slider, named for screen readers and tooltips.
QLabel* speedEnd(const QPixmap& picture, const QString& name, const QString& objectName)
{
    auto* end = new QLabel;
    end->setTextFormat(Qt::PlainText);
    end->setObjectName(objectName);
    end->setPixmap(picture);
    end->setAccessibleName(name);
    end->setToolTip(name);
    return end;
}

} // namespace

VoiceSettingsTab::VoiceSettingsTab(AppSettings& settings, AppCoordinator& coordinator,
                                   Speaker& speaker, DesktopActions& actions, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_coordinator(coordinator)
    , m_speaker(speaker)
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setSpacing(12);

    QVBoxLayout* voice = addSection(column, QStringLiteral("Voice"), QStringLiteral("voice"));
    auto* pickerRow = new QHBoxLayout;
    QLabel* pickerLabel = plainLabel(QStringLiteral("Speaking voice"));
    m_voice = new QComboBox;
    m_voice->setObjectName(QStringLiteral("voicePicker"));
    m_voice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pickerLabel->setBuddy(m_voice);
    pickerRow->addWidget(pickerLabel);
    pickerRow->addStretch(1);
    pickerRow->addWidget(m_voice);
    voice->addLayout(pickerRow);

    auto* speedRow = new QHBoxLayout;
    QLabel* speedLabel = plainLabel(QStringLiteral("Speed"));
    m_speed = new QSlider(Qt::Horizontal);
    m_speed->setObjectName(QStringLiteral("speedSlider"));
    m_speed->setRange(0, speedSteps);
    m_speed->setSingleStep(speedSteps / 20);
    m_speed->setPageStep(speedSteps / 10);
    m_speed->setAccessibleName(QStringLiteral("Speed"));
    speedLabel->setBuddy(m_speed);
    speedRow->addWidget(speedLabel);
    const QColor ink = palette().color(QPalette::WindowText);
    const int pictureSide = fontMetrics().height() + 4;
    speedRow->addWidget(speedEnd(slowPicture(pictureSide, devicePixelRatioF(), ink),
                                 QStringLiteral("Slow"), QStringLiteral("speedSlow")));
    speedRow->addWidget(m_speed, 1);
    speedRow->addWidget(speedEnd(fastPicture(pictureSide, devicePixelRatioF(), ink),
                                 QStringLiteral("Fast"), QStringLiteral("speedFast")));
    voice->addLayout(speedRow);

    auto* testRow = new QHBoxLayout;
    QPushButton* test = pushButton(QStringLiteral("&Test Voice"), QStringLiteral("testVoice"));
    testRow->addWidget(test);
    testRow->addWidget(actionButton(actions.stopSpeaking(), QStringLiteral("stopVoice"), u'S'));
    testRow->addStretch(1);
    voice->addLayout(testRow);

    QVBoxLayout* more =
        addSection(column, QStringLiteral("More voices"), QStringLiteral("moreVoices"));
    QLabel* caption = captionLabel(moreVoicesText);
    caption->setObjectName(QStringLiteral("moreVoicesCaption"));
    more->addWidget(caption);

    QVBoxLayout* last =
        addSection(column, QStringLiteral("Last briefing"), QStringLiteral("lastBriefingSection"));
    m_lastBriefingSection = sectionOf(last);
    m_lastBriefing = new QPlainTextEdit;
    m_lastBriefing->setObjectName(QStringLiteral("lastBriefing"));
    m_lastBriefing->setReadOnly(true);
    m_lastBriefing->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                            Qt::TextSelectableByKeyboard);
    m_lastBriefing->setFixedHeight(120);
    m_lastBriefing->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    makeCallout(m_lastBriefing);
    last->addWidget(m_lastBriefing);
    column->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollingPage(content));

    fillVoices(speaker.englishVoices());
    if (!speaker.voicesLoaded()) {
        // Listing the voices takes the engine a moment; offer them once they are in.
        connect(&speaker, &Speaker::voicesChanged, this,
                [this] { fillVoices(m_speaker.englishVoices()); });
        speaker.loadVoices();
    }
    showSpeed(settings.speechRate());
    showLastBriefing(coordinator.lastBriefing());

    connect(m_voice, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_settings.setVoiceIdentifier(m_voice->itemData(index).toString());
    });
    connect(&settings, &AppSettings::voiceIdentifierChanged, this, &VoiceSettingsTab::showVoice);
    // A drag writes once, when the knob is let go: every write of a preference reaches the disk.
    connect(m_speed, &QSlider::valueChanged, this, [this] {
        if (!m_speed->isSliderDown())
            writeSpeed();
    });
    connect(m_speed, &QSlider::sliderReleased, this, &VoiceSettingsTab::writeSpeed);
    connect(&settings, &AppSettings::speechRateChanged, this, &VoiceSettingsTab::showSpeed);
    connect(test, &QPushButton::clicked, this, [this] { m_coordinator.previewVoice(sampleText); });
    connect(&coordinator, &AppCoordinator::lastBriefingChanged, this,
            &VoiceSettingsTab::showLastBriefing);
}

QString VoiceSettingsTab::voiceText(const SpeechVoice& voice)
{
    QString quality;
    switch (voice.quality) {
    case SpeechVoiceQuality::Premium:
        quality = QStringLiteral("Premium");
        break;
    case SpeechVoiceQuality::Enhanced:
        quality = QStringLiteral("Enhanced");
        break;
    default:
        quality = QStringLiteral("Standard");
    }
    return voice.name + QStringLiteral(" — ") + quality;
}

// Once only: the list stays as it was first offered for as long as the window lives.
void VoiceSettingsTab::fillVoices(const QList<SpeechVoice>& voices)
{
    if (m_voicesFilled)
        return;
    m_voicesFilled = !voices.isEmpty();
    const QSignalBlocker quiet(m_voice);
    m_voice->clear();
    m_voice->addItem(QStringLiteral("System default"), QString());
    for (const SpeechVoice& voice : voices)
        m_voice->addItem(voiceText(voice), voice.identifier);
    showVoice(m_settings.voiceIdentifier());
}

// An identifier that names no listed voice leaves the picker without a selection; the stored
// choice stays, so the voice is used again once it is installed.
void VoiceSettingsTab::showVoice(const QString& identifier)
{
    const QSignalBlocker quiet(m_voice);
    int index = -1;
    for (int i = 0; i < m_voice->count(); ++i) {
        if (m_voice->itemData(i).toString() == identifier) {
            index = i;
            break;
        }
    }
    m_voice->setCurrentIndex(index);
}

void VoiceSettingsTab::showSpeed(double rate)
{
    if (m_speed->isSliderDown())
        return;
    const QSignalBlocker quiet(m_speed);
    m_speed->setValue(sliderPosition(rate));
}

// Only a position that differs from the stored speed is written: a click on the knob that does
// not move it leaves a stored value between two positions as it is.
void VoiceSettingsTab::writeSpeed()
{
    if (m_speed->value() == sliderPosition(m_settings.speechRate()))
        return;
    m_settings.setSpeechRate(static_cast<double>(m_speed->value()) / speedSteps);
}

void VoiceSettingsTab::showLastBriefing(const QString& briefing)
{
    if (m_lastBriefing->toPlainText() != briefing)
        m_lastBriefing->setPlainText(briefing);
    m_lastBriefingSection->setVisible(!briefing.isEmpty());
}

} // namespace vardelle
