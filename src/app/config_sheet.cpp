// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "app/config_sheet.h"

#include "app/ripping_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QStringList Texts(std::initializer_list<const char*> texts) {
  QStringList list;
  for (const char* t : texts) list << QString::fromLatin1(t);
  return list;
}

template <size_t N>
QStringList Texts(const std::array<const char*, N>& texts) {
  QStringList list;
  for (const char* t : texts) list << QString::fromLatin1(t);
  return list;
}

template <size_t N>
QStringList KbpsTexts(const std::array<int, N>& table) {
  QStringList list;
  for (int kbps : table) list << QStringLiteral("%1 kbps").arg(kbps);
  return list;
}

void Exchange(bool save, QComboBox* list, int32_t& member) {
  if (save) {
    if (list->currentIndex() >= 0) member = list->currentIndex();
  } else {
    list->setCurrentIndex(member >= 0 && member < list->count() ? member : -1);
  }
}

void Exchange(bool save, QCheckBox* box, int32_t& member) {
  if (save) {
    if (box->isChecked() != (member != 0)) member = box->isChecked() ? 1 : 0;
  } else {
    box->setChecked(member != 0);
  }
}

void Exchange(bool save, QSlider* slider, int32_t& member) {
  if (save) {
    if (slider->value() != std::clamp(member, slider->minimum(), slider->maximum())) {
      member = slider->value();
    }
  } else {
    const QSignalBlocker quiet(slider);  // a transfer is not a move of the user's
    slider->setValue(member);
  }
}

QSlider* MakeSlider(int maximum, int tickInterval, const QString& name, QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setRange(0, maximum);
  slider->setTickPosition(QSlider::TicksAbove);
  slider->setTickInterval(tickInterval);
  slider->setPageStep(1);
  slider->setAccessibleName(name);
  return slider;
}

QCheckBox* MakeCheck(const char* text, QWidget* parent) {
  auto* box = new QCheckBox(QString::fromLatin1(text), parent);
  box->setAccessibleName(box->text());
  return box;
}

// The page's foot: the encoder's name on the left, "Default" on the right.
QHBoxLayout* Foot(const char* encoder, QPushButton* defaultButton, QWidget* parent) {
  auto* foot = new QHBoxLayout;
  if (encoder) foot->addWidget(new QLabel(QString::fromLatin1(encoder), parent));
  foot->addStretch(1);
  foot->addWidget(defaultButton);
  return foot;
}

}  // namespace

// ---- CConfigPage ----

void CConfigPage::Initialize() {
  OnInitDialog();
  pageInitialized = true;
}

void CConfigPage::EnableApply() {
  if (sheet) sheet->EnableApply();
}

bool CConfigPage::eventFilter(QObject* watched, QEvent* event) {
  // Letting go of the slider with the mouse is a change; a key that moves it is not.
  if (event->type() == QEvent::MouseButtonRelease && qobject_cast<QSlider*>(watched)) {
    EnableApply();
  }
  return QWidget::eventFilter(watched, event);
}

QComboBox* CConfigPage::AddList(const QStringList& items, const QString& name) {
  auto* list = new QComboBox(this);
  list->addItems(items);
  list->setAccessibleName(name);
  list->setMaxVisibleItems(12);
  connect(list, &QComboBox::activated, this, &CConfigPage::EnableApply);
  return list;
}

QPushButton* CConfigPage::AddDefaultButton() {
  auto* button = new QPushButton(QStringLiteral("Default"), this);
  button->setAccessibleName(button->text());
  button->setAutoDefault(false);
  return button;
}

// ---- CPage1Mp3 ----

CPage1Mp3::CPage1Mp3(const Mp3Settings& initial, QWidget* parent)
    : CConfigPage(parent), values(initial) {
  sampleRate_ = AddList(Texts(SampleRateChoice), QStringLiteral("Sample rate"));
  channels_ = AddList(Texts({"Mono", "Stereo", "Joint stereo"}), QStringLiteral("Channels"));
  bitrate_ = AddList(KbpsTexts(Mp3BitrateTable), QStringLiteral("Bitrate"));
  preset_ = AddList(Texts(Mp3PresetNames), QStringLiteral("MPEG Quality"));
  auto* group = new QGroupBox(QStringLiteral("Variable bitrate (VBR)"), this);
  vbr_ = MakeCheck("Enable Variable bitrate", group);
  vbrMax_ = AddList(KbpsTexts(Mp3BitrateTable), QStringLiteral("MAX"));
  slider_ = MakeSlider(9, 9, QStringLiteral("VBR quality"), group);
  label_ = new QLabel(group);
  label_->setAlignment(Qt::AlignCenter);
  QPushButton* defaults = AddDefaultButton();

  auto* top = new QFormLayout;
  top->addRow(QStringLiteral("Sample rate"), sampleRate_);
  top->addRow(QStringLiteral("Channels"), channels_);
  top->addRow(QStringLiteral("Bitrate"), bitrate_);
  top->addRow(QStringLiteral("MPEG Quality"), preset_);
  auto* vbrRow = new QHBoxLayout;
  vbrRow->addWidget(vbr_);
  vbrRow->addStretch(1);
  vbrRow->addWidget(new QLabel(QStringLiteral("MAX"), group));
  vbrRow->addWidget(vbrMax_);
  auto* sliderRow = new QHBoxLayout;
  sliderRow->addWidget(new QLabel(QStringLiteral("High"), group));
  sliderRow->addWidget(slider_, 1);
  sliderRow->addWidget(new QLabel(QStringLiteral("Low"), group));
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addLayout(vbrRow);
  groupLayout->addLayout(sliderRow);
  groupLayout->addWidget(label_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(group);
  layout->addStretch(1);
  layout->addLayout(Foot("LAME Mp3 Encoder 3.92", defaults, this));

  connect(vbr_, &QCheckBox::clicked, this, &CPage1Mp3::EnableApply);
  connect(defaults, &QPushButton::clicked, this, &CPage1Mp3::OnDefault);
  connect(slider_, &QSlider::valueChanged, this, &CPage1Mp3::OnHScroll);
  slider_->installEventFilter(this);
}

void CPage1Mp3::DoDataExchange(bool save) {
  Exchange(save, sampleRate_, values.sampleRate);
  Exchange(save, channels_, values.channels);
  Exchange(save, bitrate_, values.bitrate);
  Exchange(save, preset_, values.preset);
  Exchange(save, vbr_, values.vbrEnabled);
  Exchange(save, vbrMax_, values.vbrMaxBitrate);
  Exchange(save, slider_, values.vbrQuality);
}

void CPage1Mp3::UpdateLabel() {
  label_->setText(QStringLiteral("VBR quality %1").arg(values.vbrQuality + 1));
}

void CPage1Mp3::OnInitDialog() {
  DoDataExchange(false);
  UpdateLabel();
}

void CPage1Mp3::OnHScroll() {
  DoDataExchange(true);
  UpdateLabel();
}

void CPage1Mp3::OnDefault() {
  values = Mp3Settings{};
  DoDataExchange(false);
  UpdateLabel();
  EnableApply();
}

// ---- CPage2Wav ----

CPage2Wav::CPage2Wav(const WavSettings& initial, QWidget* parent)
    : CConfigPage(parent), values(initial) {
  auto* group = new QGroupBox(QStringLiteral("Wav setting"), this);
  sampleRate_ = AddList(Texts(SampleRateChoice), QStringLiteral("Sample rate"));
  channels_ = AddList(Texts({"Mono", "Stereo"}), QStringLiteral("Channels"));
  bits_ = AddList(Texts({"8 bits", "16 bits"}), QStringLiteral("Bits per sample"));
  QPushButton* defaults = AddDefaultButton();
  auto* form = new QFormLayout(group);
  form->addRow(QStringLiteral("Sample rate"), sampleRate_);
  form->addRow(QStringLiteral("Channels"), channels_);
  form->addRow(QStringLiteral("Bits per sample"), bits_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addStretch(1);
  layout->addLayout(Foot(nullptr, defaults, this));
  connect(defaults, &QPushButton::clicked, this, &CPage2Wav::OnDefault);
}

void CPage2Wav::DoDataExchange(bool save) {
  Exchange(save, sampleRate_, values.sampleRate);
  Exchange(save, channels_, values.channels);
  Exchange(save, bits_, values.bitsPerSample);
}

void CPage2Wav::OnInitDialog() {
  DoDataExchange(false);
}

void CPage2Wav::OnDefault() {
  values = WavSettings{};
  DoDataExchange(false);
  EnableApply();
}

// ---- CPage4Flac ----

CPage4Flac::CPage4Flac(const FlacSettings& initial, QWidget* parent)
    : CConfigPage(parent), values(initial) {
  auto* group = new QGroupBox(QStringLiteral("Flac setting"), this);
  QStringList levels;
  for (int level = 0; level <= 8; ++level) {
    levels << (level == FlacSettings{}.level ? QStringLiteral("%1 (default)").arg(level)
                                             : QString::number(level));
  }
  level_ = AddList(levels, QStringLiteral("Compression level"));
  QPushButton* defaults = AddDefaultButton();
  auto* form = new QFormLayout(group);
  form->addRow(QStringLiteral("Compression level"), level_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addStretch(1);
  layout->addLayout(Foot(nullptr, defaults, this));
  connect(defaults, &QPushButton::clicked, this, &CPage4Flac::OnDefault);
}

void CPage4Flac::DoDataExchange(bool save) {
  Exchange(save, level_, values.level);
}

void CPage4Flac::OnInitDialog() {
  DoDataExchange(false);
}

void CPage4Flac::OnDefault() {
  values = FlacSettings{};
  DoDataExchange(false);
  EnableApply();
}

// ---- CPage6Opus ----

CPage6Opus::CPage6Opus(const OpusSettings& initial, QWidget* parent)
    : CConfigPage(parent), values(initial) {
  auto* group = new QGroupBox(QStringLiteral("Opus setting"), this);
  const OpusSettings defaults;
  QStringList bitrates, complexities;
  for (int kbps = kOpusMinKbps; kbps <= kOpusMaxKbps; ++kbps) {
    bitrates << (kbps - kOpusMinKbps == defaults.bitrate
                     ? QStringLiteral("%1 kbps (default)").arg(kbps)
                     : QStringLiteral("%1 kbps").arg(kbps));
  }
  for (int level = 0; level <= 10; ++level) {
    complexities << (level == defaults.complexity ? QStringLiteral("%1 (default)").arg(level)
                                                  : QString::number(level));
  }
  bitrate_ = AddList(bitrates, QStringLiteral("Bitrate"));
  mode_ = AddList(Texts(OpusModeNames), QStringLiteral("Mode"));
  complexity_ = AddList(complexities, QStringLiteral("Complexity"));
  QPushButton* defaultButton = AddDefaultButton();
  auto* form = new QFormLayout(group);
  form->addRow(QStringLiteral("Bitrate"), bitrate_);
  form->addRow(QStringLiteral("Mode"), mode_);
  form->addRow(QStringLiteral("Complexity"), complexity_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addStretch(1);
  layout->addLayout(Foot(nullptr, defaultButton, this));
  connect(defaultButton, &QPushButton::clicked, this, &CPage6Opus::OnDefault);
}

void CPage6Opus::DoDataExchange(bool save) {
  Exchange(save, bitrate_, values.bitrate);
  Exchange(save, mode_, values.mode);
  Exchange(save, complexity_, values.complexity);
}

void CPage6Opus::OnInitDialog() {
  DoDataExchange(false);
}

void CPage6Opus::OnDefault() {
  values = OpusSettings{};
  DoDataExchange(false);
  EnableApply();
}

// ---- CPage3Ogg ----

CPage3Ogg::CPage3Ogg(const OggSettings& initial, QWidget* parent)
    : CConfigPage(parent), values(initial) {
  sampleRate_ = AddList(Texts(SampleRateChoice), QStringLiteral("Sample rate"));
  channels_ = AddList(Texts({"Mono", "Stereo", "5.1"}), QStringLiteral("Channels"));

  auto* cbrGroup = new QGroupBox(QStringLiteral("Constant bitrate (CBR)"), this);
  useCbr_ = MakeCheck("Enable Constant bitrate", cbrGroup);
  cbr_ = AddList(KbpsTexts(OggBitrateTable), QStringLiteral("Constant bitrate"));
  auto* cbrLayout = new QHBoxLayout(cbrGroup);
  cbrLayout->addWidget(useCbr_);
  cbrLayout->addStretch(1);
  cbrLayout->addWidget(cbr_);

  auto* bbrGroup = new QGroupBox(QStringLiteral("Burstable bitrate (BBR)"), this);
  useBbr_ = MakeCheck("Enable Burstable bitrate", bbrGroup);
  nominal_ = AddList(KbpsTexts(OggBitrateTable), QStringLiteral("Nominal"));
  minimal_ = AddList(KbpsTexts(OggBitrateTable), QStringLiteral("Minimal"));
  maximum_ = AddList(KbpsTexts(OggBitrateTable), QStringLiteral("Maximum"));
  auto* bbrLayout = new QGridLayout(bbrGroup);
  bbrLayout->addWidget(useBbr_, 0, 0, 1, 6);
  int column = 0;
  for (auto [text, list] : {std::pair{"Nominal", nominal_}, std::pair{"Minimal", minimal_},
                            std::pair{"Maximum", maximum_}}) {
    auto* label = new QLabel(QString::fromLatin1(text), bbrGroup);
    label->setBuddy(list);
    bbrLayout->addWidget(label, 1, column++, Qt::AlignRight);
    bbrLayout->addWidget(list, 1, column++);
  }

  auto* vbrGroup = new QGroupBox(QStringLiteral("Variable bitrate (VBR)"), this);
  useVbr_ = MakeCheck("Enable VBR", vbrGroup);
  slider_ = MakeSlider(20, 2, QStringLiteral("VBR quality"), vbrGroup);
  label_ = new QLabel(vbrGroup);
  label_->setAlignment(Qt::AlignCenter);
  auto* vbrLayout = new QVBoxLayout(vbrGroup);
  vbrLayout->addWidget(useVbr_);
  vbrLayout->addWidget(slider_);
  vbrLayout->addWidget(label_);

  QPushButton* defaults = AddDefaultButton();
  auto* top = new QFormLayout;
  top->addRow(QStringLiteral("Sample rate"), sampleRate_);
  top->addRow(QStringLiteral("Channels"), channels_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(cbrGroup);
  layout->addWidget(bbrGroup);
  layout->addWidget(vbrGroup);
  layout->addStretch(1);
  layout->addLayout(Foot("OGG encoder version 1.0 RC3", defaults, this));

  connect(useCbr_, &QCheckBox::clicked, this, [this] { OnModeClicked(&OggSettings::useCbr); });
  connect(useBbr_, &QCheckBox::clicked, this, [this] { OnModeClicked(&OggSettings::useBbr); });
  connect(useVbr_, &QCheckBox::clicked, this, [this] { OnModeClicked(&OggSettings::useVbr); });
  connect(defaults, &QPushButton::clicked, this, &CPage3Ogg::OnDefault);
  connect(slider_, &QSlider::valueChanged, this, &CPage3Ogg::OnHScroll);
  slider_->installEventFilter(this);
}

void CPage3Ogg::DoDataExchange(bool save) {
  Exchange(save, sampleRate_, values.sampleRate);
  Exchange(save, channels_, values.channels);
  Exchange(save, cbr_, values.cbrBitrate);
  Exchange(save, minimal_, values.bbrMin);
  Exchange(save, nominal_, values.bbrNominal);
  Exchange(save, maximum_, values.bbrMax);
  Exchange(save, useCbr_, values.useCbr);
  Exchange(save, useBbr_, values.useBbr);
  Exchange(save, useVbr_, values.useVbr);
  Exchange(save, slider_, values.vbrQuality);
}

void CPage3Ogg::UpdateLabel() {
  labelText = QString::asprintf("%.02f (%u kbps)", OggQualityValue(values.vbrQuality),
                                OggNominalKbps(values.vbrQuality))
                  .left(64);
  label_->setText(labelText);
}

void CPage3Ogg::OnInitDialog() {
  DoDataExchange(false);
  UpdateLabel();
}

void CPage3Ogg::OnHScroll() {
  DoDataExchange(true);
  UpdateLabel();
}

void CPage3Ogg::OnModeClicked(int32_t OggSettings::*mode) {
  // The three boxes are one choice: a click always leaves exactly the clicked one ticked.
  values.useCbr = 0;
  values.useBbr = 0;
  values.useVbr = 0;
  values.*mode = 1;
  useCbr_->setChecked(values.useCbr);
  useBbr_->setChecked(values.useBbr);
  useVbr_->setChecked(values.useVbr);
  EnableApply();
}

void CPage3Ogg::OnDefault() {
  values = OggSettings{};
  DoDataExchange(false);
  UpdateLabel();
  EnableApply();
}

// ---- CConfigSheet ----

CConfigSheet::CConfigSheet(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Configuration"));
  tabs_ = new QTabWidget(this);
  mp3_ = new CPage1Mp3(ripSettings.formats.mp3);
  wav_ = new CPage2Wav(ripSettings.formats.wav);
  ogg_ = new CPage3Ogg(ripSettings.formats.ogg);
  flac_ = new CPage4Flac(ripSettings.formats.flac);
  opus_ = new CPage6Opus(ripSettings.formats.opus);
  ripping_ = new CPage5Ripping(ripSettings);
  tabs_->addTab(mp3_, QStringLiteral(" MP3 Setting "));
  tabs_->addTab(wav_, QStringLiteral(" WAV Setting "));
  tabs_->addTab(ogg_, QStringLiteral(" OGG Setting "));
  tabs_->addTab(flac_, QStringLiteral(" FLAC Setting "));
  tabs_->addTab(opus_, QStringLiteral(" OPUS Setting "));
  tabs_->addTab(ripping_, QStringLiteral(" Ripping "));
  tabs_->setAccessibleName(QStringLiteral("Configuration"));
  // Six tabs: every one in sight, none behind scroll arrows.
  tabs_->setUsesScrollButtons(false);
  for (CConfigPage* page :
       {static_cast<CConfigPage*>(mp3_), static_cast<CConfigPage*>(wav_),
        static_cast<CConfigPage*>(ogg_), static_cast<CConfigPage*>(flac_),
        static_cast<CConfigPage*>(opus_), static_cast<CConfigPage*>(ripping_)}) {
    page->sheet = this;
  }

  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  for (QAbstractButton* b : buttons->buttons()) b->setAccessibleName(b->text().remove('&'));
  apply_ = buttons->button(QDialogButtonBox::Apply);
  apply_->setEnabled(false);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(apply_, &QPushButton::clicked, this, &CConfigSheet::ApplyPages);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);

  // The first tab is initialised with the sheet; the others when first shown.
  mp3_->Initialize();
  connect(tabs_, &QTabWidget::currentChanged, this, &CConfigSheet::InitPage);
  const int first = ripSettings.outputFormat == Wav    ? 1
                    : ripSettings.outputFormat == Ogg  ? 2
                    : ripSettings.outputFormat == Flac ? 3
                    : ripSettings.outputFormat == Opus ? 4
                                                       : 0;
  tabs_->setCurrentIndex(first);
}

void CConfigSheet::InitPage(int index) {
  auto* page = qobject_cast<CConfigPage*>(tabs_->widget(index));
  if (page && !page->pageInitialized) page->Initialize();
}

void CConfigSheet::EnableApply() {
  apply_->setEnabled(true);
}

void CConfigSheet::ApplyPages() {
  FormatSettings& formats = ripSettings.formats;
  if (mp3_->pageInitialized) {
    mp3_->DoDataExchange(true);
    formats.mp3 = mp3_->values;
  }
  if (wav_->pageInitialized) {
    wav_->DoDataExchange(true);
    formats.wav = wav_->values;
  }
  if (ogg_->pageInitialized) {
    ogg_->DoDataExchange(true);
    formats.ogg = ogg_->values;
  }
  if (flac_->pageInitialized) {
    flac_->DoDataExchange(true);
    formats.flac = flac_->values;
  }
  if (opus_->pageInitialized) {
    opus_->DoDataExchange(true);
    formats.opus = opus_->values;
  }
  if (ripping_->pageInitialized) {
    ripping_->DoDataExchange(true);
    ripping_->Store(ripSettings);
  }
  SaveSettings(ripSettings);
  if (ripping_->pageInitialized) ripping_->StoreDriveOffset();
  apply_->setEnabled(false);
}

void CConfigSheet::accept() {
  ApplyPages();
  QDialog::accept();
}
