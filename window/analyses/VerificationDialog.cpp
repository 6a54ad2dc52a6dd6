// The verification dialog: a measurement file against the open profile.
#include "window/analyses/VerificationDialog.h"

#include "window/analyses/VerificationModel.h"
#include "window/widgets/HullWidget.h"
#include "window/widgets/TableView.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

VerificationDialog::VerificationDialog(krmProfile profile, const QString& profileName, QWidget* parent)
    : QDialog(parent), profile_(profile), profileName_(profileName)
{
    setWindowTitle(tr("Verify against measurements"));
    build_ui();
    connect_signals();
    resize(1100, 700);
}

void VerificationDialog::build_ui()
{
    auto* bar = new QHBoxLayout;
    auto* open = new QPushButton(tr("Open measurements..."), this);
    open->setObjectName("openMeasurements");
    connect(open, &QPushButton::clicked, this, &VerificationDialog::choose_file);
    file_ = new QLabel(tr("No measurement file"), this);
    file_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    intent_ = new QComboBox(this);
    intent_->addItem(tr("Perceptual (A2B0)"), 0);
    intent_->addItem(tr("Relative colorimetric (A2B1)"), 1);
    intent_->addItem(tr("Saturation (A2B2)"), 2);
    intent_->setCurrentIndex(1);
    relative_ = new QCheckBox(tr("Media-relative"), this);
    relative_->setToolTip(tr("Treat the measurements as media-relative even when the file does not say so"));
    bar->addWidget(open);
    bar->addWidget(file_, 1);
    bar->addWidget(new QLabel(tr("Intent:"), this));
    bar->addWidget(intent_);
    bar->addWidget(relative_);

    summary_ = new QLabel(this);
    summary_->setObjectName("verificationSummary");
    summary_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    summary_->setWordWrap(true);

    model_ = new VerificationModel(this);
    proxy_ = new QSortFilterProxyModel(this);
    proxy_->setSourceModel(model_);
    proxy_->setSortRole(Qt::UserRole);
    table_ = new TableView(this);
    table_->setModel(proxy_);
    table_->setSortingEnabled(true);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(false);

    view_ = new HullWidget(this);
    auto* left = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(summary_);
    leftLayout->addWidget(table_, 1);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(left);
    splitter->addWidget(view_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({660, 440});

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(tr("Copy report"), QDialogButtonBox::ActionRole);
    copy->setObjectName("copyReport");
    connect(copy, &QPushButton::clicked, this, &VerificationDialog::copy_report);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(splitter, 1);
    layout->addWidget(buttons);
}

void VerificationDialog::connect_signals()
{
    connect(intent_, &QComboBox::currentIndexChanged, this, &VerificationDialog::recompute);
    connect(relative_, &QCheckBox::toggled, this, &VerificationDialog::recompute);
    // A row and its point select each other (point ids are source rows + 1).
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        if (current.isValid())
            view_->select_point_id(proxy_->mapToSource(current).row() + 1);
    });
    connect(view_, &HullWidget::point_clicked, this, [this](int id, float, float, float, float, float, float) {
        if (id <= 0)
            return;
        const QModelIndex index = proxy_->mapFromSource(model_->index(id - 1, 0));
        table_->selectRow(index.row());
        table_->scrollTo(index);
    });
}

void VerificationDialog::run(krmProfile profile, const QString& profileName, QWidget* parent)
{
    if (!profile)
        return;
    VerificationDialog dialog(profile, profileName, parent);
    dialog.choose_file();
    dialog.exec();
}

void VerificationDialog::choose_file()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open measurements"), QString(),
                                                      tr("CGATS measurements (*.txt *.cgats *.ti3 *.it8);;All files (*)"));
    if (!path.isEmpty())
        load(path);
}

bool VerificationDialog::load(const QString& path)
{
    path_ = path;
    file_->setText(path);
    recompute();
    return valid_;
}

void VerificationDialog::recompute()
{
    if (path_.isEmpty())
        return;
    valid_ = false;
    error_.clear();
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        error_ = tr("Cannot read %1: %2").arg(path_, file.errorString());
    } else {
        try {
            set_ = read_measurements(file.readAll().toStdString(), krmGetProfileColorSpace(profile_));
            VerificationOptions options;
            options.intent = krmUInt32Number(intent_->currentData().toInt());
            options.relative = relative_->isChecked();
            options.worst = 10;
            report_ = verify_profile(profile_, set_, options);
            valid_ = true;
        } catch (const std::exception& e) {
            error_ = QString::fromUtf8(e.what());
        }
    }
    show_results();
}

QColor VerificationDialog::errorColor(double de00)
{
    // Green through yellow (2) to red (4 and above).
    const double t = std::clamp(de00 / 4.0, 0.0, 1.0);
    return QColor::fromHsvF(float((1.0 - t) / 3.0), 0.9f, 0.95f);
}

void VerificationDialog::show_results()
{
    view_->clear_meshes();
    if (!valid_) {
        model_->setResults({}, {});
        summary_->setText(error_);
        return;
    }
    model_->setResults(set_, report_);
    table_->sortByColumn(VerificationModel::DE00, Qt::DescendingOrder);
    summary_->setText(QString::fromStdString(verification_text(set_, report_)).section(QStringLiteral("Worst"), 0, 0).trimmed());

    // Measured points with vectors to the predictions; view axes x = b*, y = L*, z = a*.
    HullRenderData cloud;
    for (std::size_t i = 0; i < set_.patches.size(); ++i) {
        const double* m = set_.patches[i].lab;
        const double* p = report_.patches[i].predicted;
        const QColor c = errorColor(report_.patches[i].de00);
        cloud.positions.insert(cloud.positions.end(), {float(m[2]), float(m[0]), float(m[1])});
        cloud.normals.insert(cloud.normals.end(), {float(p[2]), float(p[0]), float(p[1])});
        cloud.colors.insert(cloud.colors.end(), {float(c.redF()), float(c.greenF()), float(c.blueF())});
        cloud.ids.push_back(std::int32_t(i + 1));
    }
    view_->add_mesh(cloud, MeshPoints, QColor(Qt::white), 0);
    view_->auto_fit();
}

QString VerificationDialog::reportText() const
{
    if (!valid_)
        return error_;
    return QStringLiteral("Profile:      %1\nMeasurements: %2\n").arg(profileName_, path_)
           + QString::fromStdString(verification_text(set_, report_));
}

void VerificationDialog::copy_report()
{
    QApplication::clipboard()->setText(reportText());
}
