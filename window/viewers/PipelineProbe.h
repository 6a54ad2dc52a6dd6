#pragma once

#include "window/widgets/TagAccess.h"
#include "window/widgets/ChannelVocabulary.h"

#include <krm.h>

#include <QList>
#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

class PipelineValueEdit;
class QGroupBox;
class QVBoxLayout;
class QWidget;
class WorkflowGraphScene;

// The channels on one connection of the probe.
struct ChannelSet {
    QStringList names;
    QList<QColor> colors;
    QList<ChannelFormatter> formatters;  // may be empty: values are shown as they are
    bool unscaled = false;               // values are real numbers, not normalised 0..1
    int decimals = 2;

    bool isScaled(int channel) const { return !unscaled && channel < formatters.size(); }
    // The number shown for a flowing value, and back.
    double display(int channel, double value) const;
    double normalise(int channel, double shown) const;
};

// The "Pipeline evaluation" panel above a pipeline graph: one edit per input channel; every
// change runs the values through the stages one by one in floating point and hands the graph a
// table of the values on each connection ("Input", "After stage N", "Final output").
class PipelineProbe : public QObject
{
    Q_OBJECT

public:
    // Builds the panel into `layout` and wires it to `scene`. Null when the tag has no pipeline;
    // throws QException when its channels cannot be described or a stage cannot be copied.
    static PipelineProbe* add_panel(QVBoxLayout* layout, WorkflowGraphScene* scene, krmProfile profile,
                                    krmTagSignature sig, QWidget* parent);
    ~PipelineProbe() override;

    QGroupBox* panel() const { return panel_; }
    const QList<ChannelSet>& channelSets() const { return sets_; }
    const QList<PipelineValueEdit*>& edits() const { return edits_; }
    // The values on connection i (0 the input) after the last evaluation, as they flow.
    QList<float> values(int connection) const { return values_.value(connection); }
    // Tab-separated: the output channel names, then their values as the table shows them.
    QString finalOutputText() const;

public slots:
    void evaluate();
    void copy_final_output();

private:
    PipelineProbe(WorkflowGraphScene* scene, QObject* parent);
    void describe(krmProfile profile, krmTagSignature sig, const krmPipeline* pipeline);
    void build_panel(QVBoxLayout* layout, krmColorSpaceSignature inputSpace, QWidget* parent);

    WorkflowGraphScene* scene_;
    QGroupBox* panel_ = nullptr;
    QList<ChannelSet> sets_;  // one per connection: input, after each stage
    std::vector<TagPipelinePtr> stages_;
    QList<PipelineValueEdit*> edits_;
    QList<QList<float>> values_;
};

// The range of a probe field with its unit: "0–255" for RGB, "0–100 %" for inks, the two ends
// of the tag's L*a*b* encoding; empty for real (unscaled) values.
QString channel_range_text(const ChannelSet& set, int channel, krmColorSpaceSignature space);

// The hover table of one connection: a bold title over the channel names and values.
QString edge_value_table(const ChannelSet& set, const QString& title, const QList<float>& values);
