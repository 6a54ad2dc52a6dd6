// The CI gates (verify, roundtrip --fail-above, gamut --min-coverage) and the mesh exports: a .glb
// and a .ply parsed here independently of the writers (Qt's JSON reader, byte offsets by hand).

#include "CliTestSupport.h"
#include "common/analysis/MeshExport.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QtEndian>

#include <sstream>

namespace {

const QString kColord = QStringLiteral("/usr/share/color/icc/colord/");
const QString kSrgb = kColord + QStringLiteral("sRGB.icc");
const QString kCmyk = QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");

HullRenderData tetrahedron()
{
    Hull hull;
    for (HullPoint p : {HullPoint{5, -10, 20}, HullPoint{60, -10, 20}, HullPoint{5, 40, 20}, HullPoint{5, -10, 70}})
        hull.add_point(p);
    hull.compute();
    return hull.get_render_data();
}

// Three points, the second with a vector.
HullRenderData cloud()
{
    HullRenderData d;
    d.positions = {1, 2, 3, 4, 5, 6, -7, 8, 9};
    d.colors = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    d.normals = {0, 0, 0, 4, 15, 6, 0, 0, 0};
    d.ids = {1, 2, 3};
    return d;
}

quint32 le32(const QByteArray& bytes, qsizetype at) { return qFromLittleEndian<quint32>(bytes.constData() + at); }

// The floats of a VEC3 accessor and its bounds, read from the BIN chunk.
QVector<float> floats(const QJsonObject& gltf, const QByteArray& bin, int accessor)
{
    const QJsonObject a = gltf["accessors"].toArray()[accessor].toObject();
    const QJsonObject v = gltf["bufferViews"].toArray()[a["bufferView"].toInt()].toObject();
    QVector<float> out(a["count"].toInt() * 3);
    if (v["byteOffset"].toInt() + out.size() * 4 > bin.size() || v["byteLength"].toInt() != out.size() * 4)
        return {};
    std::memcpy(out.data(), bin.constData() + v["byteOffset"].toInt(), size_t(out.size()) * 4);
    return out;
}

}  // namespace

class TestGates : public QObject
{
    Q_OBJECT

private slots:
    void glbAndPly();
    void verifyExitCodes();
    void roundtripAndCoverageGates();
    void gamutExport();
};

void TestGates::glbAndPly()
{
    const HullRenderData tetra = tetrahedron(), points = cloud();
    QCOMPARE(tetra.vertexCount(), std::size_t(4));
    QCOMPARE(tetra.triangleCount(), std::size_t(4));
    const std::vector<ExportMesh> meshes = {{"gamut", &tetra, false}, {"cloud", &points, true}};

    std::ostringstream glbStream;
    write_glb(glbStream, meshes);
    const QByteArray glb = QByteArray::fromStdString(glbStream.str());
    // Header: magic, version 2, the file's length; then the JSON chunk and the BIN chunk.
    QCOMPARE(le32(glb, 0), 0x46546C67u);
    QCOMPARE(le32(glb, 4), 2u);
    QCOMPARE(qsizetype(le32(glb, 8)), glb.size());
    const quint32 jsonLength = le32(glb, 12);
    QCOMPARE(le32(glb, 16), 0x4E4F534Au);
    QCOMPARE(jsonLength % 4, 0u);
    const QByteArray binHeader = glb.mid(20 + jsonLength, 8);
    QCOMPARE(le32(binHeader, 4), 0x004E4942u);
    const QByteArray bin = glb.mid(28 + jsonLength);
    QCOMPARE(qsizetype(le32(binHeader, 0)), bin.size());
    QJsonParseError error;
    const QJsonObject gltf = QJsonDocument::fromJson(glb.mid(20, jsonLength), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(gltf["asset"].toObject()["version"].toString(), QString("2.0"));
    QCOMPARE(gltf["buffers"].toArray()[0].toObject()["byteLength"].toInt(), bin.size());
    const QJsonArray meshesJson = gltf["meshes"].toArray();
    QCOMPARE(meshesJson.size(), 2);
    QCOMPARE(gltf["nodes"].toArray().size(), 2);

    // The surface: positions with exact bounds, colours, triangle indices within the vertices.
    const QJsonObject surface = meshesJson[0].toObject()["primitives"].toArray()[0].toObject();
    QCOMPARE(surface["mode"].toInt(), 4);
    const int position = surface["attributes"].toObject()["POSITION"].toInt();
    const QVector<float> xyz = floats(gltf, bin, position);
    QCOMPARE(xyz, QVector<float>(tetra.positions.begin(), tetra.positions.end()));
    const QJsonObject positionAccessor = gltf["accessors"].toArray()[position].toObject();
    for (int k = 0; k < 3; ++k) {
        float lo = 1e9f, hi = -1e9f;
        for (int i = k; i < xyz.size(); i += 3)
            lo = std::min(lo, xyz[i]), hi = std::max(hi, xyz[i]);
        QCOMPARE(positionAccessor["min"].toArray()[k].toDouble(), double(lo));
        QCOMPARE(positionAccessor["max"].toArray()[k].toDouble(), double(hi));
    }
    QCOMPARE(floats(gltf, bin, surface["attributes"].toObject()["COLOR_0"].toInt()).size(), 12);
    const QJsonObject indexAccessor = gltf["accessors"].toArray()[surface["indices"].toInt()].toObject();
    QCOMPARE(indexAccessor["count"].toInt(), 12);
    QCOMPARE(indexAccessor["componentType"].toInt(), 5125);
    const QJsonObject indexView = gltf["bufferViews"].toArray()[indexAccessor["bufferView"].toInt()].toObject();
    for (int i = 0; i < 12; ++i)
        QCOMPARE(le32(bin, indexView["byteOffset"].toInt() + 4 * i), tetra.indices[std::size_t(i)]);

    // The cloud: points, and its one vector as a line from the point to its end.
    const QJsonArray cloudPrimitives = meshesJson[1].toObject()["primitives"].toArray();
    QCOMPARE(cloudPrimitives.size(), 2);
    QCOMPARE(cloudPrimitives[0].toObject()["mode"].toInt(), 0);
    QCOMPARE(cloudPrimitives[1].toObject()["mode"].toInt(), 1);
    QCOMPARE(floats(gltf, bin, cloudPrimitives[1].toObject()["attributes"].toObject()["POSITION"].toInt()),
             QVector<float>({4, 5, 6, 4, 15, 6}));

    // PLY: header counts, every vertex in order, faces and edges offset past earlier meshes.
    std::ostringstream plyStream;
    write_ply(plyStream, meshes);
    const QStringList lines = QString::fromStdString(plyStream.str()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines[0], QString("ply"));
    QVERIFY(lines.contains("element vertex 9"));  // 4 + 3 + the vector's two ends
    QVERIFY(lines.contains("element face 4"));
    QVERIFY(lines.contains("element edge 1"));
    const qsizetype body = lines.indexOf("end_header") + 1;
    QCOMPARE(lines.size() - body, 9 + 4 + 1);
    std::vector<float> all(tetra.positions);
    all.insert(all.end(), points.positions.begin(), points.positions.end());
    all.insert(all.end(), {4, 5, 6, 4, 15, 6});
    for (int v = 0; v < 9; ++v) {
        const QStringList f = lines[body + v].split(' ');
        QCOMPARE(f.size(), 6);
        for (int k = 0; k < 3; ++k)
            QCOMPARE(f[k].toFloat(), all[std::size_t(v * 3 + k)]);
    }
    QCOMPARE(lines[body + 4].section(' ', 3), QString("255 0 0"));
    for (int t = 0; t < 4; ++t)
        QCOMPARE(lines[body + 9 + t], QStringLiteral("3 %1 %2 %3")
                                          .arg(tetra.indices[std::size_t(t * 3)])
                                          .arg(tetra.indices[std::size_t(t * 3 + 1)])
                                          .arg(tetra.indices[std::size_t(t * 3 + 2)]));
    QCOMPARE(lines[body + 13], QString("7 8"));

    // Empty meshes are refused, not written.
    const HullRenderData empty;
    QVERIFY_THROWS_EXCEPTION(HullException, write_glb(glbStream, {{"x", &empty, false}}));
    QVERIFY_THROWS_EXCEPTION(HullException, write_ply(plyStream, {}));
}

void TestGates::verifyExitCodes()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("m.txt");
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("CGATS.17\nNUMBER_OF_FIELDS 7\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R RGB_G RGB_B XYZ_X XYZ_Y XYZ_Z\n"
              "END_DATA_FORMAT\nNUMBER_OF_SETS 3\nBEGIN_DATA\nW 255 255 255 96.42 100 82.49\n"
              "K 0 0 0 0 0 0\nR 255 0 0 40 22 2\nEND_DATA\n");
    out.close();
    const Run base = cli({"verify", "--json", kSrgb, file});
    QCOMPARE(base.status, 0);
    const QJsonObject de00 = base.json()["de00"].toObject();
    QCOMPARE(de00["count"].toInt(), 3);
    QCOMPARE(base.json()["worst"].toArray()[0].toObject()["id"].toString(), QString("R"));
    const double mean = de00["mean"].toDouble(), max = de00["max"].toDouble();
    QVERIFY(max > 1 && mean < max);
    const struct {
        QString thresholds;
        int status;
    } cases[] = {
        {QStringLiteral("max=%1").arg(max + 0.01), 0},
        {QStringLiteral("max=%1").arg(max - 0.01), 3},
        {QStringLiteral("mean=%1,max=1000").arg(mean - 0.01), 3},
        {QStringLiteral("p95=%1,mean=%2").arg(max + 0.01).arg(mean + 0.01), 0},
        {QStringLiteral("median=1"), 2},
    };
    for (const auto& c : cases) {
        const Run run = cli({"verify", kSrgb, file, "--fail-above", c.thresholds});
        QVERIFY2(run.status == c.status, qPrintable(c.thresholds + ": " + run.err));
        QCOMPARE(run.err.contains("\u0394E00"), c.status == 3);
    }
    // A file of another device space, and a missing file.
    QCOMPARE(cli({"verify", kCmyk, file}).status, 1);
    QVERIFY(cli({"verify", kCmyk, file}).err.contains("device space is CMYK"));
    QCOMPARE(cli({"verify", kSrgb, dir.filePath("none.txt")}).status, 1);
}

void TestGates::roundtripAndCoverageGates()
{
    // default_cmyk's relative roundtrips: device mean about 1.9, PCS mean about 0.75.
    const Run plain = cli({"roundtrip", "--json", "--intent", "1", kCmyk});
    const QJsonArray roundtrips = plain.json()["roundtrips"].toArray();
    QCOMPARE(roundtrips.size(), 2);
    const double deviceMean = roundtrips[0].toObject()["mean"].toDouble();
    const double pcsMean = roundtrips[1].toObject()["mean"].toDouble();
    QVERIFY(pcsMean < deviceMean);
    const double between = (deviceMean + pcsMean) / 2;
    QCOMPARE(cli({"roundtrip", "--intent", "1", kCmyk, "--fail-above", QStringLiteral("mean=%1").arg(deviceMean + 0.01)})
                 .status,
             0);
    const Run one = cli({"roundtrip", "--json", "--intent", "1", kCmyk, "--fail-above",
                         QStringLiteral("mean=%1").arg(between)});
    QCOMPARE(one.status, 3);
    QCOMPARE(one.json()["roundtrips"].toArray()[0].toObject()["exceeded"].toArray().size(), 1);
    QCOMPARE(one.json()["roundtrips"].toArray()[1].toObject()["exceeded"].toArray().size(), 0);

    // sRGB holds about 70 % of Adobe RGB's volume.
    const QString adobe = kColord + "AdobeRGB1998.icc";
    const struct {
        QString gate;
        int status;
    } cases[] = {{adobe + "=65", 0}, {adobe + "=75", 3}, {kSrgb + "=100", 0}, {adobe + "=x", 2}, {"=50", 2}};
    for (const auto& c : cases)
        QVERIFY2(cli({"gamut", kSrgb, "--min-coverage", c.gate}).status == c.status, qPrintable(c.gate));
}

void TestGates::gamutExport()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("g.glb");
    const Run run = cli({"gamut", "--json", kSrgb, "--compare", kColord + "AdobeRGB1998.icc", "--export", path});
    QCOMPARE(run.status, 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray glb = file.readAll();
    const QJsonObject gltf = QJsonDocument::fromJson(glb.mid(20, le32(glb, 12))).object();
    const QJsonArray meshes = gltf["meshes"].toArray();
    QCOMPARE(meshes.size(), 2);
    QCOMPARE(meshes[1].toObject()["name"].toString(), QString("compare"));
    const int position = meshes[0].toObject()["primitives"].toArray()[0].toObject()["attributes"].toObject()["POSITION"].toInt();
    QCOMPARE(gltf["accessors"].toArray()[position].toObject()["count"].toInt(),
             run.json()["gamut"].toObject()["vertices"].toInt());
    // By extension: PLY and VRML text; anything else is bad usage.
    QCOMPARE(cli({"gamut", kSrgb, "--export", dir.filePath("g.ply")}).status, 0);
    QCOMPARE(cli({"gamut", kSrgb, "--export", dir.filePath("g.wrl")}).status, 0);
    QFile ply(dir.filePath("g.ply")), wrl(dir.filePath("g.wrl"));
    QVERIFY(ply.open(QIODevice::ReadOnly) && ply.readLine() == "ply\n");
    QVERIFY(wrl.open(QIODevice::ReadOnly) && wrl.readLine().startsWith("#VRML V2.0"));
    QCOMPARE(cli({"gamut", kSrgb, "--export", dir.filePath("g.obj")}).status, 2);
}

QTEST_GUILESS_MAIN(TestGates)
#include "tst_gates.moc"
