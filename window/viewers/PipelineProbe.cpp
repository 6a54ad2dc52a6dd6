#include "window/viewers/PipelineProbe.h"

#include "window/widgets/TagAccess.h"
#include "window/viewers/PipelineValueEdit.h"
#include "window/viewers/WorkflowGraphScene.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QException>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMaxChannels = 16;

bool is_lab(krmColorSpaceSignature space) { return space == krmSig("Lab "); }
bool is_xyz(krmColorSpaceSignature space) { return space == krmSig("XYZ "); }

ChannelSet channel_set(krmProfile profile, krmTagSignature sig, krmColorSpaceSignature space, int count,
                       bool multiProcess)
{
    ChannelSet set;
    set.names = default_channel_names(space);
    set.formatters = get_channel_formatters(profile, sig, space);
    // Multi-process elements carry real L*a*b* and XYZ numbers, not encodings.
    set.unscaled = multiProcess && (is_lab(space) || is_xyz(space));
    set.decimals = is_xyz(space) ? 3 : 2;
    if (set.names.size() != count) {
        set.names.clear();
        for (int i = 1; i <= count; ++i)
            set.names << QObject::tr("Channel %1").arg(i);
        set.formatters.clear();
        set.unscaled = true;
    }
    for (int i = 0; i < count; ++i)
        set.colors << channel_color(space, i);
    return set;
}

// L*a*b* encodings with a given full scale: 65535 for version 4 (and the engine's normalised
// floating-point PCS), 65280 for version 2.
QList<ChannelFormatter> lab_formatters(double fullScale)
{
    const auto lightness = [fullScale](krmUInt16Number v) { return v * 100.0 / fullScale; };
    const auto opponent = [fullScale](krmUInt16Number v) { return v * 255.0 / fullScale - 128.0; };
    return {lightness, opponent, opponent};
}

bool reuses_previous_set(const krmStage* stage)
{
    const krmStageSignature type = krmStageType(stage);
    const krmStageSignature implements = krmStageImplements(stage);
    if (type == krmSigCLutElemType || type == krmSigXYZ2LabElemType || type == krmSigLab2XYZElemType)
        return false;
    return implements != krmSigLab2FloatPCS && implements != krmSigFloatPCS2Lab && implements != krmSigXYZ2FloatPCS
           && implements != krmSigFloatPCS2XYZ;
}

QString trimmed_number(double value)
{
    QString text = QString::number(value, 'f', 2);
    while (text.contains(QLatin1Char('.')) && (text.endsWith(QLatin1Char('0')) || text.endsWith(QLatin1Char('.'))))
        text.chop(1);
    return text == QStringLiteral("-0") ? QStringLiteral("0") : text;
}

}  // namespace

QString channel_range_text(const ChannelSet& set, int channel, krmColorSpaceSignature space)
{
    if (!set.isScaled(channel))
        return {};
    // The ends of the encoding, as the field reads them: the 8-bit L*a*b* of 'mft1' ends at
    // 100 and 127, the legacy 16-bit one at 100.39 and 127.99.
    const double low = set.display(channel, 0.0);
    const double high = set.display(channel, 1.0);
    const bool percent = high == 100.0 && !is_lab(space);
    return QStringLiteral("%1\u2013%2").arg(trimmed_number(low), trimmed_number(high))
           + (percent ? QStringLiteral(" %") : QString());
}

namespace {

QString color_hex(const QList<QColor>& colors, int i)
{
    const QColor color = colors.value(i);
    return (color.isValid() ? color : QApplication::palette().color(QPalette::Text)).name();
}

}  // namespace

double ChannelSet::display(int channel, double value) const
{
    if (!isScaled(channel))
        return value;
    const double low = formatters[channel](0);
    return low + (formatters[channel](65535) - low) * value;
}

double ChannelSet::normalise(int channel, double shown) const
{
    if (!isScaled(channel))
        return shown;
    const double low = formatters[channel](0);
    const double span = formatters[channel](65535) - low;
    return span == 0 ? 0.0 : (shown - low) / span;
}

QString edge_value_table(const ChannelSet& set, const QString& title, const QList<float>& values)
{
    QString html = QStringLiteral("<b>") + title.toHtmlEscaped() + QStringLiteral("</b><table>");
    for (int i = 0; i < set.names.size(); ++i) {
        const double shown = set.display(i, values.value(i));
        html += QStringLiteral("<tr><td style='color:%1'>%2</td><td align='right'>%3</td></tr>")
                    .arg(color_hex(set.colors, i), set.names[i].toHtmlEscaped(), QString::number(shown, 'f', set.decimals));
    }
    return html + QStringLiteral("</table>");
}

// ---------------------------------------------------------------------------------------------

PipelineProbe::PipelineProbe(WorkflowGraphScene* scene, QObject* parent) : QObject(parent), scene_(scene) {}

PipelineProbe::~PipelineProbe() = default;

PipelineProbe* PipelineProbe::add_panel(QVBoxLayout* layout, WorkflowGraphScene* scene, krmProfile profile,
                                        krmTagSignature sig, QWidget* parent)
{
    const TagPipelinePtr pipeline(tag_pipeline(profile, sig));
    if (!pipeline)
        return nullptr;
    auto probe = std::unique_ptr<PipelineProbe>(new PipelineProbe(scene, nullptr));
    probe->describe(profile, sig, pipeline.get());
    const krmColorSpaceSignature input = sig == krmSig("MHC2") ? krmSig("XYZ ") : tag_io_spaces(profile, sig).input;
    probe->build_panel(layout, input, parent);
    probe->setParent(probe->panel_);
    probe->evaluate();
    return probe.release();
}

void PipelineProbe::describe(krmProfile profile, krmTagSignature sig, const krmPipeline* pipeline)
{
    const bool mhc2 = sig == krmSig("MHC2");
    const bool multiProcess = krmGetTagStoredType(profile, sig) == krmSig("mpet");
    TagIOSpaces spaces = tag_io_spaces(profile, sig);
    if (mhc2)
        spaces = {krmSig("XYZ "), krmSig("XYZ ")};
    const TagChannels channels = describe_tag_channels(profile, sig);

    ChannelSet input = channel_set(profile, sig, spaces.input, int(krmPipelineInputChannels(pipeline)), multiProcess);
    if (!mhc2 && input.names.size() == channels.inputNames.size()) {
        input.names = channels.inputNames;
        input.colors = channels.inputColors;
    }
    sets_ = {input};

    const krmContext context = krmGetPipelineContextID(pipeline);
    krmColorSpaceSignature current = spaces.input;
    for (krmStage* stage = krmPipelineFirstStage(pipeline); stage; stage = krmStageNext(stage)) {
        const krmStageSignature type = krmStageType(stage);
        const krmStageSignature implements = krmStageImplements(stage);
        if (type == krmSigXYZ2LabElemType)
            current = krmSig("Lab ");
        else if (type == krmSigLab2XYZElemType)
            current = krmSig("XYZ ");
        else if (type == krmSigCLutElemType)
            current = spaces.output;
        else if (type == krmSigMatrixElemType && sig == MatrixShaperTag)
            current = krmSig("XYZ ");

        const krmUInt32Number inputs = krmStageInputChannels(stage);
        const krmUInt32Number outputs = krmStageOutputChannels(stage);
        TagPipelinePtr single(krmPipelineAlloc(context, inputs, outputs));
        krmStage* copy = krmStageDup(stage);
        const bool inserted = single && copy && krmPipelineInsertStage(single.get(), krmAT_END, copy);
        if (!single || !copy || !inserted) {
            if (copy && !single)
                krmStageFree(copy);
            throw QException();
        }
        stages_.push_back(std::move(single));

        const ChannelSet& previous = sets_.last();
        ChannelSet after = channel_set(profile, sig, current, int(outputs), multiProcess);
        if (reuses_previous_set(stage) && after.names.size() == previous.names.size() && after.names == previous.names)
            after = previous;
        if (is_lab(current)) {
            // The conversions between the two L*a*b* encodings and into the normalised
            // floating-point PCS change how the flowing numbers read; out of it they are real.
            if (implements == krmSigLabV2toV4 || implements == krmSigLab2FloatPCS) {
                after.formatters = lab_formatters(65535.0);
                after.unscaled = false;
            } else if (implements == krmSigLabV4toV2) {
                after.formatters = lab_formatters(65280.0);
                after.unscaled = false;
            } else if (implements == krmSigFloatPCS2Lab) {
                after.unscaled = true;
            }
        } else if (is_xyz(current)) {
            if (implements == krmSigXYZ2FloatPCS) {
                after.formatters = get_channel_formatters(profile, sig, current);
                after.unscaled = false;
            } else if (implements == krmSigFloatPCS2XYZ) {
                after.unscaled = true;
            }
        }
        sets_.append(after);
    }

    if (current != spaces.output)
        sets_.last() = channel_set(profile, sig, spaces.output, int(krmPipelineOutputChannels(pipeline)), multiProcess);
    if (!mhc2 && sets_.last().names.size() == channels.outputNames.size()) {
        sets_.last().names = channels.outputNames;
        sets_.last().colors = channels.outputColors;
    }
}

void PipelineProbe::build_panel(QVBoxLayout* layout, krmColorSpaceSignature inputSpace, QWidget* parent)
{
    panel_ = new QGroupBox(tr("Pipeline evaluation"), parent);
    auto* grid = new QGridLayout(panel_);
    grid->setContentsMargins(10, 8, 10, 8);
    grid->setHorizontalSpacing(12);

    const ChannelSet& input = sets_.first();
    const int n = int(input.names.size());
    for (int i = 0; i < n; ++i) {
        auto* cell = new QHBoxLayout();
        const QString range = channel_range_text(input, i, inputSpace);
        auto* label = new QLabel(range.isEmpty() ? input.names[i] : tr("%1 (%2)").arg(input.names[i], range), panel_);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setStyleSheet(QStringLiteral("color: %1;").arg(color_hex(input.colors, i)));
        auto* edit = new PipelineValueEdit(panel_);
        edit->setDecimals(is_xyz(inputSpace) ? 3 : 2);
        edit->setRange(-1000000.0, 1000000.0);
        edit->setKeyboardTracking(false);
        edit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        label->setBuddy(edit);
        const bool opponent = is_lab(inputSpace) && i > 0;
        edit->setValue(opponent || !input.isScaled(i) ? 0.0 : input.formatters[i](0));
        cell->addWidget(label);
        cell->addWidget(edit);
        grid->addLayout(cell, i / 4, i % 4);
        edits_ << edit;
    }
    for (int i = 0; i < n; ++i)
        edits_[i]->setNextEdit(edits_[(i + 1) % n]);
    for (PipelineValueEdit* edit : edits_)
        connect(edit, &QDoubleSpinBox::valueChanged, this, &PipelineProbe::evaluate);

    auto* hint = new QLabel(tr("Hover over connectors and arrows to inspect evaluated values."), panel_);
    grid->addWidget(hint, (n + 3) / 4, 0, 1, 4);
    // The channels keep to the left; the space to the right stays empty.
    grid->setColumnStretch(4, 1);

    auto* copy = new QAction(tr("Copy final output"), panel_);
    copy->setIcon(QIcon::fromTheme(QStringLiteral("edit-copy")));
    connect(copy, &QAction::triggered, this, &PipelineProbe::copy_final_output);
    panel_->addAction(copy);
    panel_->setContextMenuPolicy(Qt::ActionsContextMenu);

    layout->addWidget(panel_);
}

void PipelineProbe::evaluate()
{
    const ChannelSet& input = sets_.first();
    float in[kMaxChannels] = {};
    const int n = std::min<int>(int(edits_.size()), kMaxChannels);
    for (int i = 0; i < n; ++i)
        in[i] = float(input.normalise(i, edits_[i]->value()));

    values_ = {QList<float>(in, in + n)};
    float buffer[kMaxChannels] = {};
    std::copy(in, in + kMaxChannels, buffer);
    for (const TagPipelinePtr& stage : stages_) {
        float out[kMaxChannels] = {};
        krmPipelineEvalFloat(buffer, out, stage.get());
        const int outputs = std::min<int>(int(krmPipelineOutputChannels(stage.get())), kMaxChannels);
        values_.append(QList<float>(out, out + outputs));
        std::fill(buffer, buffer + kMaxChannels, 0.0f);
        std::copy(out, out + outputs, buffer);
    }

    QStringList texts;
    const int last = int(sets_.size()) - 1;
    for (int c = 0; c <= last; ++c) {
        const QString title = c == 0      ? tr("Input")
                              : c == last ? tr("Final output")
                                          : tr("After stage %1").arg(c);
        texts << edge_value_table(sets_[c], title, values_[c]);
    }
    scene_->setEdgeTexts(texts);
}

QString PipelineProbe::finalOutputText() const
{
    const ChannelSet& output = sets_.last();
    QStringList shown;
    for (int i = 0; i < output.names.size(); ++i)
        shown << QString::number(output.display(i, values_.last().value(i)), 'f', output.decimals);
    return output.names.join(QLatin1Char('\t')) + QLatin1Char('\n') + shown.join(QLatin1Char('\t')) + QLatin1Char('\n');
}

void PipelineProbe::copy_final_output()
{
    QApplication::clipboard()->setText(finalOutputText());
}
