#include "window/analyses/TVICurvesTagComponent.h"

#include "common/analysis/InkRamps.h"
#include "window/analyses/TVIGraphScene.h"
#include "common/signatures/Signatures.h"
#include "window/widgets/ChannelVocabulary.h"
#include "window/widgets/GraphicsViewer.h"

#include <QAction>
#include <QClipboard>
#include <QException>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QVBoxLayout>

TVICurvesTagComponent::TVICurvesTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent), profile_(profile), sig_(sig)
{
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
}

void TVICurvesTagComponent::tabSelected()
{
    if (computed_)
        return;
    computed_ = true;
    try {
        compute_dot_gain();
    } catch (const QException&) {
        add_message(tr("Dot gain analysis unavailable for this profile."));
    }
}

void TVICurvesTagComponent::add_message(const QString& text)
{
    message_ = new QLabel(text, this);
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    layout_->addWidget(message_);
}

void TVICurvesTagComponent::compute_dot_gain()
{
    const int intent = lut_tag_intent(sig_, false);
    if (intent < 0)
        throw QException();
    const auto channels = compute_dot_gain_values(profile_, intent);
    if (!channels)
        throw QException();
    const TagChannels names = describe_tag_channels(profile_, sig_);
    const int n = int(channels->size());
    if (names.inputNames.size() != n || names.inputColors.size() != n)
        throw QException();

    QList<DotGainCurve> curves;
    QStringList failed;
    std::vector<std::string> columns;
    for (const DotGainChannel& channel : *channels) {
        const QString base = names.inputNames[channel.channel];
        const std::string name = dot_gain_name(base.toStdString(), channel);
        columns.push_back(name);
        if (channel.failed) {
            failed << base;
            continue;
        }
        curves << DotGainCurve{QString::fromStdString(name), names.inputColors[channel.channel], channel.values};
    }

    if (!curves.isEmpty()) {
        viewer_ = new GraphicsViewer(this);
        scene_ = new TVIGraphScene(curves, tagName(sig_), this);
        viewer_->setScene(scene_);
        layout_->addWidget(viewer_);
        table_ = QString::fromStdString(dot_gain_table(*channels, columns));
        copy_values_ = new QAction(tr("Copy values"), this);
        copy_values_->setIcon(QIcon::fromTheme(QStringLiteral("edit-copy")));
        connect(copy_values_, &QAction::triggered, this,
                [this] { QGuiApplication::clipboard()->setText(table_); });
        viewer_->contextMenu()->addSeparator();
        viewer_->contextMenu()->addAction(copy_values_);
    }
    if (!failed.isEmpty())
        add_message(tr("Dot gain unavailable for %1: insufficient paper-to-solid difference or invalid profile "
                       "response.")
                        .arg(failed.join(QStringLiteral(", "))));
}
