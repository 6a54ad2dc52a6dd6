#include "common/signatures/Signatures.h"

#include <QCoreApplication>
#include <QCryptographicHash>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr krmUInt32Number sig(const char (&s)[5])
{
    return krmSig(s);
}

constexpr krmUInt8Number kWildcard = 0x3F;  // '?'

// ---------------------------------------------------------------------------------------------
// Dictionaries (one constant array each, in lookup order)
// ---------------------------------------------------------------------------------------------

constexpr SignatureEntry kColorSpaces[] = {
    {"XYZ", sig("XYZ "), 0},
    {"Lab", sig("Lab "), 0},
    {"Luv", sig("Luv "), 0},
    {"YCbCr", sig("YCbr"), 0},
    {"Yxy", sig("Yxy "), 0},
    {"RGB", sig("RGB "), 0},
    {"Gray", sig("GRAY"), 0},
    {"Hsv", sig("HSV "), 0},
    {"Hls", sig("HLS "), 0},
    {"CMYK", sig("CMYK"), 0},
    {"CMY", sig("CMY "), 0},
    {"MCH1", sig("MCH1"), 0},
    {"MCH2", sig("MCH2"), 0},
    {"MCH3", sig("MCH3"), 0},
    {"MCH4", sig("MCH4"), 0},
    {"MCH5", sig("MCH5"), 0},
    {"MCH6", sig("MCH6"), 0},
    {"MCH7", sig("MCH7"), 0},
    {"MCH8", sig("MCH8"), 0},
    {"MCH9", sig("MCH9"), 0},
    {"MCHA", sig("MCHA"), 0},
    {"MCHB", sig("MCHB"), 0},
    {"MCHC", sig("MCHC"), 0},
    {"MCHD", sig("MCHD"), 0},
    {"MCHE", sig("MCHE"), 0},
    {"MCHF", sig("MCHF"), 0},
    {"Named", sig("nmcl"), 0},
    {"1 color", sig("1CLR"), 0},
    {"2 color", sig("2CLR"), 0},
    {"3 color", sig("3CLR"), 0},
    {"4 color", sig("4CLR"), 0},
    {"5 color", sig("5CLR"), 0},
    {"6 color", sig("6CLR"), 0},
    {"7 color", sig("7CLR"), 0},
    {"8 color", sig("8CLR"), 0},
    {"9 color", sig("9CLR"), 0},
    {"10 color", sig("ACLR"), 0},
    {"11 color", sig("BCLR"), 0},
    {"12 color", sig("CCLR"), 0},
    {"13 color", sig("DCLR"), 0},
    {"14 color", sig("ECLR"), 0},
    {"15 color", sig("FCLR"), 0},
    {"LuvK", sig("LuvK"), 0},
};

constexpr SignatureEntry kDeviceClasses[] = {
    {"Input", sig("scnr"), 0},
    {"Display", sig("mntr"), 0},
    {"Output", sig("prtr"), 0},
    {"DeviceLink", sig("link"), 0},
    {"Abstract", sig("abst"), 0},
    {"ColorSpace", sig("spac"), 0},
    {"NamedColor", sig("nmcl"), 0},
    {"ColorEncodingSpace", sig("cenc"), 0},
    {"MultiplexIdentification", sig("mid "), 0},
    {"MultiplexLink", sig("mlnk"), 0},
    {"MultiplexVisualization", sig("mvis"), 0},
};

constexpr SignatureEntry kPlatforms[] = {
    {"Apple", sig("APPL"), 0},
    {"Microsoft", sig("MSFT"), 0},
    {"Solaris", sig("SUNW"), 0},
    {"SGI", sig("SGI "), 0},
    {"Taligent", sig("TGNT"), 0},
    {"Linux", sig("*nix"), 0},
};

constexpr SignatureEntry kLutTypes[] = {
    {"V2 16 bit", sig("mft2"), 0},
    {"V2 8 bit", sig("mft1"), 0},
    {"V4 AtoB", sig("mAB "), 0},
    {"V4 BtoA", sig("mBA "), 0},
    {"V4 Multi elements", sig("mpet"), 0},
};

constexpr SignatureEntry kStageTypes[] = {
    {"Curves", sig("cvst"), 0},
    {"Matrix", sig("matf"), 0},
    {"CLUT", sig("clut"), 0},
    {"BAcs", sig("bACS"), 0},
    {"EAcs", sig("eACS"), 0},
    {"XYZ2Lab", sig("l2x "), 0},
    {"Lab2XYZ", sig("x2l "), 0},
    {"Named color", sig("ncl "), 0},
    {"Lab V2 to V4", sig("2 4 "), 0},
    {"Lab V4 to V2", sig("4 2 "), 0},
    {"Identity", sig("idn "), 0},
    {"Lab to Float PCS", sig("d2l "), 0},
    {"Float PCS to Lab", sig("l2d "), 0},
    {"XYZ to Float PCS", sig("d2x "), 0},
    {"Float PCS to XYZ", sig("x2d "), 0},
    {"Clip Negatives", sig("clp "), 0},
};

// ICC.1:2010 9.2.16, colorimetricIntentImageStateTag.
constexpr SignatureEntry kImageStates[] = {
    {"Scene Colorimetry Estimates", sig("scoe"), 0},
    {"Scene Appearance Estimates", sig("sape"), 0},
    {"FocalPlaneColorimetryEstimates", sig("fpce"), 0},
    {"ReflectionHardcopyOriginalColorimetry", sig("rhoc"), 0},
    {"ReflectionPrintOutputColorimetry", sig("rpoc"), 0},
};

// ICC.1:2010 Table 29, technology signatures.
constexpr SignatureEntry kTechnologies[] = {
    {"Digital Camera", sig("dcam"), 0},
    {"Film Scanner", sig("fscn"), 0},
    {"Reflective Scanner", sig("rscn"), 0},
    {"InkJet Printer", sig("ijet"), 0},
    {"Thermal Wax Printer", sig("twax"), 0},
    {"Electrophotographic Printer", sig("epho"), 0},
    {"Electrostatic Printer", sig("esta"), 0},
    {"Dye Sublimation Printer", sig("dsub"), 0},
    {"Photographic Paper Printer", sig("rpho"), 0},
    {"Film Writer", sig("fprn"), 0},
    {"Video Monitor", sig("vidm"), 0},
    {"Video Camera", sig("vidc"), 0},
    {"Projection Television", sig("pjtv"), 0},
    {"CRT Display", sig("CRT "), 0},
    {"PM Display", sig("PMD "), 0},
    {"AM Display", sig("AMD "), 0},
    {"PhotoCD", sig("KPCD"), 0},
    {"Photo Image Setter", sig("imgs"), 0},
    {"Gravure", sig("grav"), 0},
    {"Offset Lithography", sig("offs"), 0},
    {"Silkscreen", sig("silk"), 0},
    {"Flexography", sig("flex"), 0},
    {"Motion Picture Film Scanner", sig("mpfs"), 0},
    {"Motion Picture Film Recorder", sig("mpfr"), 0},
    {"Digital Motion Picture Camera", sig("dmpc"), 0},
    {"Digital Cinema Projector", sig("dcjp"), 0},
};

// ICC.1:2010 Table 50, measurement geometry encodings. U+00BA is the sign used as written.
constexpr SignatureEntry kGeometries[] = {
    {"unknown", 0, 0},
    {"0\u00B0:45\u00B0 or 45\u00B0:0\u00B0 ", 1, 0},
    {"0\u00B0:d or d:0\u00B0", 2, 0},
};

// ICC.1:2010 Table 51, standard illuminant encodings.
constexpr SignatureEntry kIlluminantTypes[] = {
    {"unknown", 0, 0},
    {"D50", 1, 0},
    {"D65", 2, 0},
    {"D93", 3, 0},
    {"F2", 4, 0},
    {"D55", 5, 0},
    {"A", 6, 0},
    {"E", 7, 0},
    {"F8", 8, 0},
};

// ICC.1:2010 Table 49, standard observer encodings.
constexpr SignatureEntry kObservers[] = {
    {"unknown", 0, 0},
    {"CIE 1931 2\u00B0 observer", 1, 0},
    {"CIE 1964 10\u00B0 observer", 2, 0},
};

// ICC.1:2001 Table 63, spot shape encodings.
constexpr SignatureEntry kSpotShapes[] = {
    {"unknown", 0, 0},
    {"printer_default", 1, 0},
    {"round", 2, 0},
    {"diamond", 3, 0},
    {"ellipse", 4, 0},
    {"line", 5, 0},
    {"square", 6, 0},
    {"cross", 7, 0},
};

// CMM signatures of the ICC signature registry.
constexpr SignatureEntry kCmms[] = {
    {"Adobe CMM", sig("ADBE"), 0},
    {"Agfa CMM", sig("ACMS"), 0},
    {"Apple CMM", sig("appl"), 0},
    {"Apple CMM", sig("APPL"), 0},
    {"ColorGear CMM", sig("CCMS"), 0},
    {"ColorGear CMM Lite", sig("UCCM"), 0},
    {"ColorGear CMM C", sig("UCMS"), 0},
    {"EFI CMM", sig("EFI "), 0},
    {"Fujifilm CMM", sig("FF  "), 0},
    {"ExactScan CMM", sig("EXAC"), 0},
    {"Harlequin RIP CMM", sig("HCMM"), 0},
    {"Argyll CMS CMM", sig("argl"), 0},
    {"LogoSync CMM", sig("LgoS"), 0},
    {"Heidelberg CMM", sig("HDM "), 0},
    {"Corvane CMM", sig("crvn"), 0},
    {"RefIccMAX CMM", sig("RIMX"), 0},
    {"DemoIccMAX CMM", sig("DIMX"), 0},
    {"Kodak CMM", sig("KCMS"), 0},
    {"Konica Minolta CMM", sig("MCML"), 0},
    {"Microsoft CMM", sig("MSFT"), 0},
    {"Windows Color System CMM", sig("WCS "), 0},
    {"Mutoh CMM", sig("SIGN"), 0},
    {"Onyx Graphics CMM", sig("ONYX"), 0},
    {"Reprointelligence CMM", sig("repr"), 0},
    {"DeviceLink CMM", sig("RGMS"), 0},
    {"SampleICC CMM", sig("SICC"), 0},
    {"Toshiba CMM", sig("TCMM"), 0},
    {"the imaging factory CMM", sig("32BT"), 0},
    {"Vivo CMM", sig("vivo"), 0},
    {"Ware to Go CMM", sig("WTG "), 0},
    {"Zoran CMM", sig("zc00"), 0},
};

// Manufacturer signatures of the ICC signature registry, in registry order. Case matters:
// 'MITS' and 'Mits', 'SEIK' and 'SEIk' are different registrations.
constexpr SignatureEntry kManufacturers[] = {
    {"Acer Peripherals", sig("ACER"), 0},
    {"Compaq", sig("COMP"), 0},
    {"Dell Computer Corporation", sig("DELL"), 0},
    {"Imagine", sig("IMAG"), 0},
    {"Acticolor", sig("ACTI"), 0},
    {"Adara Technology", sig("ADAR"), 0},
    {"Carroll Touch", sig("CARR"), 0},
    {"Colorgraphic Communications Corporation", sig("COLO"), 0},
    {"Conrac Display Products", sig("CONR"), 0},
    {"Cordata Technologies Limited", sig("CORD"), 0},
    {"Darius Technology Ltd", sig("DARI"), 0},
    {"Everex", sig("EVER"), 0},
    {"Falco Data Products, Inc.", sig("FALC"), 0},
    {"Forefront Technology Corporation", sig("FORA"), 0},
    {"Foreground Technology", sig("FORE"), 0},
    {"Goldstar Technology, Inc.", sig("GOLD"), 0},
    {"Iiyama North America, Inc.", sig("IIYA"), 0},
    {"Integrated Technology", sig("INTR"), 0},
    {"Iocomm International Technology Corporation", sig("IOCO"), 0},
    {"Leading Technology, Inc.", sig("LEAD"), 0},
    {"Link Computer, Inc.", sig("LINK"), 0},
    {"Lite-On, Inc.", sig("LITE"), 0},
    {"Mag Computronic (USA) Inc.", sig("MAGC"), 0},
    {"MAG Innovision Inc.", sig("MAGI"), 0},
    {"Microvitec, Inc.", sig("MICV"), 0},
    {"Mitsubishi Electronics America, Inc.", sig("MITs"), 0},
    {"Hitachi America, Ltd.", sig("HITA"), 0},
    {"Ikegami Electronics Inc.", sig("IKEG"), 0},
    {"Modgraph, Inc.", sig("MODG"), 0},
    {"Monitronix, Inc.", sig("MONI"), 0},
    {"Morse Technology, Inc.", sig("MORS"), 0},
    {"Nanao USA Corporation", sig("NANA"), 0},
    {"Nissei Sangyo America, Ltd.", sig("NISS"), 0},
    {"Optiquest", sig("OPTI"), 0},
    {"Packard Bell", sig("PACK"), 0},
    {"Panasonic Communication & Systems Company", sig("PANA"), 0},
    {"Philips Consumer Electronics Co.", sig("PHIL"), 0},
    {"Prima Display, Inc.", sig("PREM"), 0},
    {"Princeton Graphic Systems", sig("PRIN"), 0},
    {"Mitsubishi Electronics America, Inc.", sig("MITS"), 0},
    {"Compaq", sig("COMp"), 0},
    {"Prism Peripherals, Inc.", sig("PRIP"), 0},
    {"Redmond Systems", sig("REDM"), 0},
    {"Radius, Inc.", sig("RADI"), 0},
    {"Relisys", sig("RELI"), 0},
    {"Samsung, Inc.", sig("SAMP"), 0},
    {"Samsung Electronics Co., Ltd.", sig("SAMS"), 0},
    {"Seiko Instruments U.S.A., Inc.", sig("SEIK"), 0},
    {"Sony Corporation", sig("SONY"), 0},
    {"Talon Technology Corporation", sig("TALO"), 0},
    {"Tatung Co. of America, Inc.", sig("TATU"), 0},
    {"Taxan (America), Inc.", sig("TAXA"), 0},
    {"Teco Information Systems, Inc.", sig("TECO"), 0},
    {"Toshiba Corp.", sig("TOSH"), 0},
    {"TTX Computer Products, Inc.", sig("TTX "), 0},
    {"TVM Professional Monitor Corporation", sig("TVM "), 0},
    {"TW Casper Corporation", sig("TW  "), 0},
    {"ViewSonic", sig("VIEW"), 0},
    {"Wyse Technology", sig("WYSE"), 0},
    {"Apple Computer, Inc.", sig("APPL"), 0},
    {"AST Research", sig("AST "), 0},
    {"Brother Industries, LTD", sig("BROT"), 0},
    {"Bull", sig("BULL"), 0},
    {"C-Itoh", sig("C-IT"), 0},
    {"Canon, Inc. (Canon Development Americas, Inc.)", sig("CANO"), 0},
    {"Citizen", sig("CITI"), 0},
    {"Dataproducts", sig("DATA"), 0},
    {"Digital Computer Corporation", sig("DICO"), 0},
    {"Digital Equipment Corporation", sig("DIGI"), 0},
    {"Epson", sig("EPSO"), 0},
    {"Fujitsu", sig("FUJI"), 0},
    {"Hermes", sig("HERM"), 0},
    {"Eastman Kodak Company", sig("KODA"), 0},
    {"Kyocera", sig("KYOC"), 0},
    {"Lexmark International Inc.", sig("LEXM"), 0},
    {"Linotronic", sig("LINO"), 0},
    {"Mannesmann", sig("MANN"), 0},
    {"Microtek", sig("MICR"), 0},
    {"Minolta", sig("MINO"), 0},
    {"Oce Printing Systems", sig("OCEC"), 0},
    {"Oki", sig("OKI "), 0},
    {"Okidata", sig("OKID"), 0},
    {"Olivetti", sig("OLIV"), 0},
    {"QMS, Inc.", sig("QMS "), 0},
    {"Quad Laser", sig("QUAD"), 0},
    {"Ricoh Corporation", sig("RICO"), 0},
    {"Royal", sig("ROYA"), 0},
    {"Seiko Epson", sig("SEIk"), 0},
    {"Sharp Corporation", sig("SHAR"), 0},
    {"Star", sig("STAR"), 0},
    {"Tandy", sig("TAND"), 0},
    {"Tegra", sig("TEGR"), 0},
    {"Tektronix, Inc.", sig("TEKT"), 0},
    {"Texas Instruments", sig("TI  "), 0},
    {"Triumph", sig("TRIU"), 0},
    {"Unisys", sig("UNIS"), 0},
    {"Varityper", sig("VARI"), 0},
    {"Wang", sig("WANG"), 0},
    {"Scitex Corporation, Ltd.", sig("SCIT"), 0},
    {"Xerox Corporation", sig("XERX"), 0},
    {"Crosfield Electronics Limited", sig("CEL "), 0},
    {"Barco NV", sig("BRCO"), 0},
    {"Iiyama North America, Inc.", sig("IVM "), 0},
    {"Alps Electric USA, Inc.", sig("ALPS"), 0},
    {"Hewlett-Packard", sig("HP  "), 0},
    {"Amiable Technologies, Inc.", sig("AMTI"), 0},
    {"Ulead Systems", sig("ULSX"), 0},
    {"FFEI Ltd.", sig("ffei"), 0},
    {"Intel Corporation", sig("INTC"), 0},
    {"Iwatsu Electric Co., Ltd.", sig("IWAT"), 0},
    {"Electronics and Telecommunications Research Institute", sig("ETRI"), 0},
    {"Konica Corporation", sig("KNCA"), 0},
    {"Alwan Color Expertise", sig("ALWN"), 0},
    {"Nikon Corporation", sig("NKON"), 0},
    {"Dainippon Ink and Chemicals", sig("DL&C"), 0},
    {"TOTOKU ELECTRIC Co., LTD", sig("TOTK"), 0},
    {"Colorgenics", sig("CMiX"), 0},
    {"Heidelberger Druckmaschinen AG", sig("APAG"), 0},
    {"Celebrity Systems", sig("CBUS"), 0},
    {"Colorspan", sig("clsp"), 0},
    {"Contrast Pro", sig("CPRO"), 0},
    {"Zebra Technologies Inc", sig("Zebr"), 0},
    {"Visual Communication", sig("VISL"), 0},
    {"Color Management Company", sig("CMCO"), 0},
    {"Utz Fehlau & Sohn", sig("UTZF"), 0},
    {"MITSUBISHI ELECTRIC CORPORATION", sig("Mits"), 0},
    {"Olympus Optical Co., Ltd", sig("OLYM"), 0},
    {"NexPress Solutions LLC", sig("NEXP"), 0},
    {"bergdesign incorporated", sig("berg"), 0},
    {"Qubyx Sarl", sig("quby"), 0},
    {"YxyMaster GmbH", sig("yxym"), 0},
    {"Monaco Systems Inc.", sig("MONS"), 0},
    {"EIZO NANAO CORPORATION", sig("Eizo"), 0},
    {"Blackmagic Design", sig("BRKP"), 0},
    {"Left Dakota", sig("LDAK"), 0},
    {"Global Graphics Software Limited", sig("GGSL"), 0},
    {"Phase One A/S", sig("POne"), 0},
    {"Fnord Software", sig("FNRD"), 0},
    {"Typemaker Ltd.", sig("TMKR"), 0},
    {"QPcard AB", sig("QPCD"), 0},
    {"Cliq", sig("CLIQ"), 0},
    {"Esko-Graphics", sig("ESKO"), 0},
    {"Konica Minolta Holdings, Inc", sig("KMHD"), 0},
    {"Motion Graphics Ltd", sig("MOTI"), 0},
    {"Jetsoft Development", sig("JSFT"), 0},
    {"Aamazing Technologies, Inc.", sig("AAMA"), 0},
    {"ColorVision Inc.", sig("CVIS"), 0},
    {"Leaf Color Calibration", sig("LCCD"), 0},
    {"Microcomputer Corporation (Sanwa)", sig("MICN"), 0},
    {"Signature Software", sig("SGUY"), 0},
    {"Onyx Graphics", sig("ONYX"), 0},
    {"International Color Consortium", sig("SICC"), 0},
    {"Integrated Color Solutions, Inc.", sig("ceyd"), 0},
    {"SIWI GRAFIKA CORPORATION", sig("siwi"), 0},
    {"Dainippon Screen", sig("DCRC"), 0},
    {"Digital Solutions", sig("DSOL"), 0},
    {"Acolyte Color Research", sig("ACLT"), 0},
    {"Gretag Macbeth", sig("GTMB"), 0},
    {"Zoran Corporation", sig("ZRAN"), 0},
    {"FluxData Corporation", sig("flux"), 0},
    {"Lenovo", 0x4C4E5600, 0},  // 'LNV' followed by a zero byte
    {"Adobe Systems Incorporated", sig("ADBE"), 0},
    {"BARBIERI electronic", sig("BAEL"), 0},
    {"Agfa Graphics N.V.", sig("AGFA"), 0},
    {"basICColor GmbH", sig("bICC"), 0},
    {"Wellbeing Color", sig("WLBR"), 0},
    {"Graphic Products Ltd.", sig("GPRT"), 0},
    {"Pentax Corporation", sig("PNTX"), 0},
    {"ExactCODE GmbH", sig("EXAC"), 0},
    {"Erdt Systems GmbH & Co KG", sig("4d2p"), 0},
    {"Medigraph GmbH", sig("obic"), 0},
    {"Microsoft Corporation", sig("MSFT"), 0},
    {"SpectraCal", sig("SPCL"), 0},
    {"DisplayPlugin", sig("DPLG"), 0},
    {"Toshiba TEC Corporation", sig("TSBT"), 0},
    {"Leica Camera AG", sig("LCAG"), 0},
    {"Ware to Go", sig("WTG2"), 0},
    {"Dry Creek Photo", sig("DCP "), 0},
    {"CIG Design", sig("CIGL"), 0},
    {"Vivo Mobile Communication Co., Ltd", sig("VIVO"), 0},
    {"Colorpro", sig("CPP "), 0},
    {"Polkadots Software", sig("PKDS"), 0},
    {"Fujifilm Corporation", sig("FF  "), 0},
    {"Wacom Technology Inc.", sig("WGTI"), 0},
    {"Hologic, Inc.", sig("HOLX"), 0},
    {"Fuji Xerox Co., Ltd.", sig("FX  "), 0},
    {"LG Electronics", sig("LGEL"), 0},
    {"Colorlogic GmbH", sig("CoLg"), 0},
    {"Xiaomi Inc.", sig("XM  "), 0},
    {"Zortek", sig("ZORT"), 0},
    {"ColorBase", sig("CoBa"), 0},
    {"Reprointelligence", sig("REPR"), 0},
    {"PathQA Ltd", sig("PAQA"), 0},
    {"Dai Nippon Printing Co., Ltd.", sig("DNP."), 0},
    {"Xlogic", sig("XLOG"), 0},
    {"Dainippon Screen Mfg. Co., Ltd.", sig("DS  "), 0},
    {"DuPont", sig("DUPN"), 0},
    {"Pantone, Inc.", sig("PANT"), 0},
    {"Heidelberger Druckmaschinen AG", sig("HDM "), 0},
    {"Casio Computer Co., Ltd.", sig("CASI"), 0},
    {"Image Manipulation Inc.", sig("IMI "), 0},
    {"Color Logic", sig("CL00"), 0},
    {"Realtime", sig("RTL "), 0},
    {"Sony Tektronix", sig("STC "), 0},
    {"Coloren", sig("CRN "), 0},
    {"Fujifilm Photo Area", sig("FPA "), 0},
    {"Mutoh Industries Ltd.", sig("MUTO"), 0},
    {"HTC Corporation", sig("HTC "), 0},
    {"DIC Corporation", sig("DIC "), 0},
    {"AT&T Computer Systems", sig("AT&T"), 0},
    {"ADI Systems Inc.", sig("ADI "), 0},
    {"AOC International (U.S.A), Ltd.", sig("AOC "), 0},
    {"BusComputer", sig("BUS "), 0},
    {"CTX International, Inc.", sig("CTX "), 0},
    {"HCI", sig("HCI "), 0},
    {"IBM Corporation", sig("IBM "), 0},
    {"KFC Computek Components Corporation", sig("KFC "), 0},
    {"JVC Information Products Co.", sig("JVC "), 0},
    {"KLH Computers", sig("KLH "), 0},
    {"NEC Corporation", sig("NEC "), 0},
    {"Roland DG Corporation", sig("RDG "), 0},
    {"TDS", sig("TDS "), 0},
    {"CGS Publishing Technologies International GmbH", sig("CGS "), 0},
    {"Hamamatsu Photonics K.K.", sig("HPK "), 0},
    {"PFU Limited", sig("PFU "), 0},
    {"GCC Technologies Inc.", sig("GCC "), 0},
    {"Samsung Electronics Co., Ltd.", sig("SEC "), 0},
    {"Oce Technologies B.V.", sig("OCE "), 0},
    {"Iris Graphics", sig("ISL "), 0},
    {"Chromix", sig("CHM "), 0},
    {"Rollei", sig("RPC "), 0},
    {"GMG GmbH & Co. KG", sig("GMG "), 0},
    {"IPS Industrial", sig("IPS "), 0},
    {"Qume Corporation", sig("QUME"), 0},
    {"HiTi Digital, Inc.", sig("HiTi"), 0},
    {"Inca Digital Printers Ltd.", sig("Inca"), 0},
    {"X-Rite", sig("XRIT"), 0},
    {"Corvane", sig("crvn"), 0},
    {"Argyll CMS", sig("argl"), 0},
};

// Tag names: the public tags first, then vendor-private tags (flag 1) with their wildcards.
// 'bXYZ', 'gXYZ' and 'rXYZ' appear twice on purpose; only the first row is reached by exact match.
constexpr SignatureEntry kTags[] = {
    {"Matrix shaper", 0x7FFFFFF0, 0},
    {"AToB0 Proof Perceptual", sig("A2B0"), 0},
    {"AToB1 Proof Rel.Col.", sig("A2B1"), 0},
    {"AToB2 Proof Saturation", sig("A2B2"), 0},
    {"Blue Colorant", sig("bXYZ"), 0},
    {"Blue Matrix Column", sig("bXYZ"), 0},
    {"Blue TRC", sig("bTRC"), 0},
    {"BToA0 Perceptual", sig("B2A0"), 0},
    {"BToA1 Rel.Col.", sig("B2A1"), 0},
    {"BToA2 Saturation", sig("B2A2"), 0},
    {"Calibration Date Time", sig("calt"), 0},
    {"Characterization Target", sig("targ"), 0},
    {"Chromatic Adaptation", sig("chad"), 0},
    {"Chromaticity", sig("chrm"), 0},
    {"Colorant Order", sig("clro"), 0},
    {"Colorant Table", sig("clrt"), 0},
    {"Colorant Table Out", sig("clot"), 0},
    {"Colorimetric Intent Image State", sig("ciis"), 0},
    {"Copyright", sig("cprt"), 0},
    {"CrdInfo", sig("crdi"), 0},
    {"Data", sig("data"), 0},
    {"Date Time", sig("dtim"), 0},
    {"Device Mfg Desc", sig("dmnd"), 0},
    {"Device Model Desc", sig("dmdd"), 0},
    {"Device Settings", sig("devs"), 0},
    {"DToB0 Float Proof Perceptual", sig("D2B0"), 0},
    {"DToB1 Float Proof Rel.Col.", sig("D2B1"), 0},
    {"DToB2 Float Proof Saturation", sig("D2B2"), 0},
    {"DToB3 Float Proof Abs.Col.", sig("D2B3"), 0},
    {"BToD0 Float Perceptual", sig("B2D0"), 0},
    {"BToD1 Float Rel.Col.", sig("B2D1"), 0},
    {"BToD2 Float Saturation", sig("B2D2"), 0},
    {"BToD3 Float Abs.Col.", sig("B2D3"), 0},
    {"Gamut", sig("gamt"), 0},
    {"Gray TRC", sig("kTRC"), 0},
    {"Green Colorant", sig("gXYZ"), 0},
    {"Green Matrix Column", sig("gXYZ"), 0},
    {"Green TRC", sig("gTRC"), 0},
    {"Luminance", sig("lumi"), 0},
    {"Measurement", sig("meas"), 0},
    {"Media Black Point", sig("bkpt"), 0},
    {"Media White Point", sig("wtpt"), 0},
    {"Named Color (deprecated)", sig("ncol"), 0},
    {"Named Color2", sig("ncl2"), 0},
    {"Output Response", sig("resp"), 0},
    {"Perceptual Rendering Intent Gamut", sig("rig0"), 0},
    {"Preview Perceptual", sig("pre0"), 0},
    {"Preview Rel.Col.", sig("pre1"), 0},
    {"Preview Saturation", sig("pre2"), 0},
    {"Profile Description", sig("desc"), 0},
    {"Profile Description ML", sig("dscm"), 0},
    {"Profile Sequence Desc", sig("pseq"), 0},
    {"Profile Sequence Id", sig("psid"), 0},
    {"Ps2 CRD Perceptual", sig("psd0"), 0},
    {"Ps2 CRD Rel.Col.", sig("psd1"), 0},
    {"Ps2 CRD Saturation", sig("psd2"), 0},
    {"Ps2 CRD Abs.Col.", sig("psd3"), 0},
    {"Ps2 CSA", sig("ps2s"), 0},
    {"Ps2 Rendering Intent", sig("ps2i"), 0},
    {"Red Colorant", sig("rXYZ"), 0},
    {"Red Matrix Column", sig("rXYZ"), 0},
    {"Red TRC", sig("rTRC"), 0},
    {"Saturation Rendering Intent Gamut", sig("rig2"), 0},
    {"Screening Desc", sig("scrd"), 0},
    {"Screening", sig("scrn"), 0},
    {"Technology", sig("tech"), 0},
    {"Under Color Removal / Black Generation", sig("bfd "), 0},
    {"Viewing Cond Desc", sig("vued"), 0},
    {"Viewing Conditions", sig("view"), 0},
    {"Vcgt Video Card Gamma Table", sig("vcgt"), 0},
    {"Meta", sig("meta"), 0},
    {"CICP Coding Independent Code Points", sig("cicp"), 0},
    {"Argyll Arts", sig("arts"), 0},
    {"Microsoft Hardware Calibration", sig("MHC2"), 0},
    {"Adobe private", sig("AS??"), 1},
    {"AGFA private", sig("AGPT"), 1},
    {"Amiable private", sig("AM??"), 1},
    {"Apple private", sig("AA??"), 1},
    {"Apple private", sig("aarg"), 1},
    {"Apple private", sig("aagg"), 1},
    {"Apple private", sig("aabg"), 1},
    {"Apple private", sig("cust"), 1},
    {"Apple private", sig("dscm"), 1},
    {"Apple private", sig("mmod"), 1},
    {"Apple private", sig("name"), 1},
    {"Apple private", sig("ncpi"), 1},
    {"Apple private", sig("ndin"), 1},
    {"Apple private", sig("psvm"), 1},
    {"Apple private", sig("trc "), 1},
    {"Apple private", sig("vpta"), 1},
    {"Apple private", sig("vptb"), 1},
    {"Apple private", sig("vptg"), 1},
    {"Apple private", sig("vptp"), 1},
    {"Apple private", sig("vptw"), 1},
    {"BARCO private", sig("BDS "), 1},
    {"BARCO private", sig("BKAL"), 1},
    {"BARCO private", sig("BP2P"), 1},
    {"basICColor private", sig("PDST"), 1},
    {"basICColor private", sig("PSRC"), 1},
    {"Calibrite private", sig("clbr"), 1},
    {"Canon private", sig("CPP?"), 1},
    {"Canon private", sig("ucG?"), 1},
    {"Canon private", sig("ucmD"), 1},
    {"Canon private", sig("ucmF"), 1},
    {"Canon private", sig("ucmI"), 1},
    {"Canon private", sig("ucmM"), 1},
    {"Canon private", sig("ucmP"), 1},
    {"Canon private", sig("ucmT"), 1},
    {"Canon private", sig("ucmV"), 1},
    {"Color Solutions private", sig("EULA"), 1},
    {"Color Solutions private", sig("MOGT"), 1},
    {"Color Solutions private", sig("MOST"), 1},
    {"Creo private", sig("ccpd"), 1},
    {"Creo private", sig("ccps"), 1},
    {"Creo private", sig("ccpx"), 1},
    {"CreoScitex private", sig("SC??"), 1},
    {"CreoScitex private", sig("SCIT"), 1},
    {"Datacolor private", sig("DC??"), 1},
    {"Datacolor private", sig("TCPt"), 1},
    {"Dry Creek private", sig("DCPd"), 1},
    {"Dry Creek private", sig("DCPi"), 1},
    {"Dry Creek private", sig("DCPh"), 1},
    {"DuPont private", sig("DUP?"), 1},
    {"DuPont private", sig("dup?"), 1},
    {"EFI private", sig("efi?"), 1},
    {"Entrust private", sig("dotg"), 1},
    {"Esko private", sig("EGBD"), 1},
    {"FFEI private", sig("FEI?"), 1},
    {"FFEI private", sig("oprf"), 1},
    {"FUJIFILM Business private", sig("FX??"), 1},
    {"Fujifilm private", sig("FF  "), 1},
    {"GretagMacbeth private", sig("CIED"), 1},
    {"GretagMacbeth private", sig("DevD"), 1},
    {"GretagMacbeth private", sig("Pmtr"), 1},
    {"GretagMacbeth private", sig("gmps"), 1},
    {"Heidelberg private", sig("HD??"), 1},
    {"Heidelberg private", sig("hd??"), 1},
    {"Heidelberg private", sig("blge"), 1},
    {"Heidelberg private", sig("clrd"), 1},
    {"Heidelberg private", sig("hald"), 1},
    {"Heidelberg private", sig("half"), 1},
    {"Heidelberg private", sig("mecn"), 1},
    {"Heidelberg private", sig("medd"), 1},
    {"Heidelberg private", sig("medt"), 1},
    {"Heidelberg private", sig("meop"), 1},
    {"Heidelberg private", sig("plmd"), 1},
    {"Heidelberg private", sig("plmt"), 1},
    {"Heidelberg private", sig("prsd"), 1},
    {"Heidelberg private", sig("prst"), 1},
    {"Heidelberg private", sig("tact"), 1},
    {"HP private", sig("HP??"), 1},
    {"IMATION private", sig("imn?"), 1},
    {"Kodak private", sig("K0??"), 1},
    {"Kodak private", sig("K1??"), 1},
    {"Kodak private", sig("KCFX"), 1},
    {"Kodak private", sig("KCGX"), 1},
    {"Kodak private", sig("KCRX"), 1},
    {"Kodak private", sig("KCSX"), 1},
    {"Kodak private", sig("Klvp"), 1},
    {"Kodak private", sig("cvd "), 1},
    {"Kodak private", sig("dimd"), 1},
    {"Kodak private", sig("fprn"), 1},
    {"Kodak private", sig("icsp"), 1},
    {"Kodak private", sig("illd"), 1},
    {"Kodak private", sig("lvmd"), 1},
    {"Kodak private", sig("tnam"), 1},
    {"Kodak private", sig("tprt"), 1},
    {"Konica Minolta private", sig("iTRC"), 1},
    {"Konica Minolta private", sig("kc??"), 1},
    {"Konica Minolta private", sig("km??"), 1},
    {"Harlequin private", sig("hctl"), 1},
    {"Left Dakota private", sig("LDST"), 1},
    {"Left Dakota private", sig("LNCP"), 1},
    {"Left Dakota private", sig("LSET"), 1},
    {"Left Dakota private", sig("LSRC"), 1},
    {"Microsoft private", sig("MS??"), 1},
    {"Monaco private", sig("DEVD"), 1},
    {"Monaco private", sig("DEVS"), 1},
    {"Oce private", sig("OCE?"), 1},
    {"Onyx private", sig("ONX?"), 1},
    {"PathQA private", sig("PQA?"), 1},
    {"Phase One private", sig("P1MX"), 1},
    {"Phase One private", sig("P1PT"), 1},
    {"Polaroid private", sig("POL?"), 1},
    {"Polkadots private", sig("pkd?"), 1},
    {"SEIKO EPSON private", sig("EP0?"), 1},
    {"SEIKO EPSON private", sig("LUTI"), 1},
    {"SEIKO EPSON private", sig("adht"), 1},
    {"SEIKO EPSON private", sig("drvn"), 1},
    {"SEIKO EPSON private", sig("ebbp"), 1},
    {"SEIKO EPSON private", sig("emes"), 1},
    {"SEIKO EPSON private", sig("emul"), 1},
    {"SEIKO EPSON private", sig("fzdt"), 1},
    {"SEIKO EPSON private", sig("inks"), 1},
    {"SEIKO EPSON private", sig("ismp"), 1},
    {"SEIKO EPSON private", sig("mdea"), 1},
    {"SEIKO EPSON private", sig("pa2b"), 1},
    {"SEIKO EPSON private", sig("pb2a"), 1},
    {"SEIKO EPSON private", sig("pdir"), 1},
    {"SEIKO EPSON private", sig("reso"), 1},
    {"SEIKO EPSON private", sig("styp"), 1},
    {"Sharp private", sig("SH??"), 1},
    {"Studion Soft private", sig("Kmod"), 1},
    {"Studion Soft private", sig("SAMd"), 1},
    {"Studion Soft private", sig("SAMi"), 1},
    {"Studion Soft private", sig("SAMo"), 1},
    {"Sun private", sig("ichd"), 1},
    {"Sun private", sig("iche"), 1},
    {"Sun private", sig("lias"), 1},
    {"Sun private", sig("ltag"), 1},
    {"Sun private", sig("ntag"), 1},
    {"Sun private", sig("play"), 1},
    {"Sun private", sig("sf64"), 1},
    {"Sun private", sig("si08"), 1},
    {"Sun private", sig("si16"), 1},
    {"Sun private", sig("si32"), 1},
    {"Tektronix private", 0x544B003F, 1},
    {"Tektronix private", 0x546B003F, 1},
    {"Tektronix private", 0x744B003F, 1},
    {"Tektronix private", 0x746B003F, 1},
    {"the imaging factory private", sig("32BT"), 1},
    {"the imaging factory private", sig("TF??"), 1},
    {"Typemaker private", sig("tmkr"), 1},
    {"Ware To Go private", sig("WTG "), 1},
    {"Ware To Go private", sig("WTG?"), 1},
    {"X-Rite private", sig("CxF "), 1},
    {"X-Rite private", sig("gbd0"), 1},
    {"X-Rite private", sig("gbd1"), 1},
    {"X-Rite private", sig("gbd2"), 1},
    {"X-Rite private", sig("gbd3"), 1},
    {"YxyMaster private", sig("cbr8"), 1},
    {"Zoran private", sig("ZC??"), 1},
    {"Dainippon Screen private", sig("S???"), 1},
};

constexpr NamedWhitePoint kNamedWhitePoints[] = {
    {"A", 0.44757, 0.40745, 2856},
    {"B", 0.34842, 0.35161, 4874},
    {"C", 0.31006, 0.31616, 6774},
    {"D50", 0.34567, 0.3585, 5003},
    {"D55", 0.33242, 0.34743, 5503},
    {"D65", 0.31271, 0.32902, 6504},
    {"D75", 0.29902, 0.31485, 7504},
    {"E", 1.0 / 3.0, 1.0 / 3.0, 5454},
    {"F1", 0.3131, 0.33727, 6430},
    {"F2", 0.37208, 0.37529, 4230},
    {"F3", 0.4091, 0.3943, 3450},
    {"F4", 0.44018, 0.40329, 2940},
    {"F5", 0.31379, 0.34531, 6350},
    {"F6", 0.3779, 0.38835, 4150},
    {"F7", 0.31292, 0.32933, 6500},
    {"F8", 0.34588, 0.35875, 5000},
    {"F9", 0.37417, 0.37281, 4150},
    {"F10", 0.34609, 0.35986, 5000},
    {"F11", 0.38052, 0.37713, 4000},
    {"F12", 0.43695, 0.40441, 3000},
};

// Chromaticity of a Planckian radiator, 1000 K to 4000 K in 10 K steps: Planck's law
// (c2 = 1.438776877e-2 m K) weighted by the CIE 1931 2 degree observer from 360 nm to 830 nm in
// 1 nm steps (the 5 nm CIE table brought to 1 nm by Sprague interpolation), x = X / (X + Y + Z).
constexpr PlanckianPoint kPlanckianLocus[] = {
    {1000, 0.652750605, 0.344461787},     {1010, 0.651339381, 0.345709739},
    {1020, 0.649930640, 0.346948321},     {1030, 0.648524443, 0.348177337},
    {1040, 0.647120843, 0.349396596},     {1050, 0.645719888, 0.350605918},
    {1060, 0.644321625, 0.351805131},     {1070, 0.642926091, 0.352994072},
    {1080, 0.641533325, 0.354172584},     {1090, 0.640143356, 0.355340519},
    {1100, 0.638756215, 0.356497735},     {1110, 0.637371926, 0.357644099},
    {1120, 0.635990514, 0.358779485},     {1130, 0.634611996, 0.359903771},
    {1140, 0.633236393, 0.361016846},     {1150, 0.631863718, 0.362118603},
    {1160, 0.630493986, 0.363208941},     {1170, 0.629127209, 0.364287766},
    {1180, 0.627763398, 0.365354991},     {1190, 0.626402561, 0.366410532},
    {1200, 0.625044707, 0.367454315},     {1210, 0.623689842, 0.368486267},
    {1220, 0.622337972, 0.369506324},     {1230, 0.620989103, 0.370514427},
    {1240, 0.619643240, 0.371510519},     {1250, 0.618300387, 0.372494551},
    {1260, 0.616960546, 0.373466480},     {1270, 0.615623723, 0.374426264},
    {1280, 0.614289919, 0.375373870},     {1290, 0.612959139, 0.376309266},
    {1300, 0.611631384, 0.377232426},     {1310, 0.610306658, 0.378143329},
    {1320, 0.608984965, 0.379041957},     {1330, 0.607666306, 0.379928298},
    {1340, 0.606350685, 0.380802342},     {1350, 0.605038107, 0.381664084},
    {1360, 0.603728574, 0.382513523},     {1370, 0.602422090, 0.383350661},
    {1380, 0.601118661, 0.384175504},     {1390, 0.599818290, 0.384988063},
    {1400, 0.598520982, 0.385788350},     {1410, 0.597226744, 0.386576383},
    {1420, 0.595935580, 0.387352180},     {1430, 0.594647497, 0.388115765},
    {1440, 0.593362502, 0.388867164},     {1450, 0.592080601, 0.389606406},
    {1460, 0.590801802, 0.390333524},     {1470, 0.589526113, 0.391048553},
    {1480, 0.588253541, 0.391751529},     {1490, 0.586984097, 0.392442495},
    {1500, 0.585717788, 0.393121492},     {1510, 0.584454624, 0.393788567},
    {1520, 0.583194615, 0.394443767},     {1530, 0.581937772, 0.395087142},
    {1540, 0.580684104, 0.395718746},     {1550, 0.579433623, 0.396338633},
    {1560, 0.578186341, 0.396946861},     {1570, 0.576942268, 0.397543487},
    {1580, 0.575701417, 0.398128574},     {1590, 0.574463801, 0.398702184},
    {1600, 0.573229431, 0.399264382},     {1610, 0.571998320, 0.399815235},
    {1620, 0.570770482, 0.400354810},     {1630, 0.569545930, 0.400883178},
    {1640, 0.568324677, 0.401400411},     {1650, 0.567106737, 0.401906580},
    {1660, 0.565892125, 0.402401761},     {1670, 0.564680853, 0.402886029},
    {1680, 0.563472937, 0.403359462},     {1690, 0.562268391, 0.403822137},
    {1700, 0.561067228, 0.404274135},     {1710, 0.559869465, 0.404715535},
    {1720, 0.558675114, 0.405146420},     {1730, 0.557484192, 0.405566873},
    {1740, 0.556296712, 0.405976977},     {1750, 0.555112689, 0.406376816},
    {1760, 0.553932138, 0.406766477},     {1770, 0.552755074, 0.407146045},
    {1780, 0.551581512, 0.407515608},     {1790, 0.550411465, 0.407875254},
    {1800, 0.549244949, 0.408225070},     {1810, 0.548081978, 0.408565145},
    {1820, 0.546922567, 0.408895570},     {1830, 0.545766729, 0.409216434},
    {1840, 0.544614479, 0.409527829},     {1850, 0.543465831, 0.409829843},
    {1860, 0.542320798, 0.410122570},     {1870, 0.541179395, 0.410406101},
    {1880, 0.540041635, 0.410680528},     {1890, 0.538907531, 0.410945942},
    {1900, 0.537777096, 0.411202437},     {1910, 0.536650344, 0.411450104},
    {1920, 0.535527287, 0.411689038},     {1930, 0.534407938, 0.411919330},
    {1940, 0.533292308, 0.412141074},     {1950, 0.532180411, 0.412354362},
    {1960, 0.531072257, 0.412559287},     {1970, 0.529967858, 0.412755943},
    {1980, 0.528867225, 0.412944423},     {1990, 0.527770369, 0.413124819},
    {2000, 0.526677302, 0.413297223},     {2010, 0.525588033, 0.413461729},
    {2020, 0.524502572, 0.413618429},     {2030, 0.523420929, 0.413767415},
    {2040, 0.522343114, 0.413908779},     {2050, 0.521269135, 0.414042613},
    {2060, 0.520199002, 0.414169007},     {2070, 0.519132723, 0.414288054},
    {2080, 0.518070306, 0.414399845},     {2090, 0.517011759, 0.414504469},
    {2100, 0.515957089, 0.414602017},     {2110, 0.514906304, 0.414692578},
    {2120, 0.513859411, 0.414776243},     {2130, 0.512816416, 0.414853100},
    {2140, 0.511777325, 0.414923237},     {2150, 0.510742144, 0.414986742},
    {2160, 0.509710879, 0.415043704},     {2170, 0.508683534, 0.415094209},
    {2180, 0.507660115, 0.415138344},     {2190, 0.506640625, 0.415176195},
    {2200, 0.505625070, 0.415207848},     {2210, 0.504613452, 0.415233388},
    {2220, 0.503605776, 0.415252899},     {2230, 0.502602044, 0.415266465},
    {2240, 0.501602258, 0.415274170},     {2250, 0.500606422, 0.415276096},
    {2260, 0.499614538, 0.415272326},     {2270, 0.498626606, 0.415262942},
    {2280, 0.497642630, 0.415248023},     {2290, 0.496662608, 0.415227652},
    {2300, 0.495686543, 0.415201906},     {2310, 0.494714435, 0.415170867},
    {2320, 0.493746283, 0.415134611},     {2330, 0.492782088, 0.415093217},
    {2340, 0.491821849, 0.415046763},     {2350, 0.490865565, 0.414995324},
    {2360, 0.489913234, 0.414938976},     {2370, 0.488964856, 0.414877796},
    {2380, 0.488020428, 0.414811856},     {2390, 0.487079949, 0.414741232},
    {2400, 0.486143415, 0.414665996},     {2410, 0.485210824, 0.414586221},
    {2420, 0.484282174, 0.414501978},     {2430, 0.483357460, 0.414413339},
    {2440, 0.482436679, 0.414320375},     {2450, 0.481519828, 0.414223154},
    {2460, 0.480606902, 0.414121746},     {2470, 0.479697896, 0.414016220},
    {2480, 0.478792806, 0.413906642},     {2490, 0.477891627, 0.413793081},
    {2500, 0.476994354, 0.413675602},     {2510, 0.476100981, 0.413554271},
    {2520, 0.475211502, 0.413429152},     {2530, 0.474325911, 0.413300311},
    {2540, 0.473444203, 0.413167810},     {2550, 0.472566370, 0.413031712},
    {2560, 0.471692407, 0.412892080},     {2570, 0.470822305, 0.412748975},
    {2580, 0.469956057, 0.412602458},     {2590, 0.469093657, 0.412452588},
    {2600, 0.468235097, 0.412299426},     {2610, 0.467380369, 0.412143029},
    {2620, 0.466529464, 0.411983457},     {2630, 0.465682374, 0.411820766},
    {2640, 0.464839092, 0.411655013},     {2650, 0.463999607, 0.411486253},
    {2660, 0.463163913, 0.411314544},     {2670, 0.462331998, 0.411139938},
    {2680, 0.461503854, 0.410962491},     {2690, 0.460679473, 0.410782255},
    {2700, 0.459858843, 0.410599284},     {2710, 0.459041955, 0.410413629},
    {2720, 0.458228800, 0.410225342},     {2730, 0.457419367, 0.410034473},
    {2740, 0.456613645, 0.409841074},     {2750, 0.455811626, 0.409645192},
    {2760, 0.455013297, 0.409446879},     {2770, 0.454218648, 0.409246180},
    {2780, 0.453427669, 0.409043146},     {2790, 0.452640347, 0.408837821},
    {2800, 0.451856673, 0.408630254},     {2810, 0.451076635, 0.408420489},
    {2820, 0.450300221, 0.408208572},     {2830, 0.449527421, 0.407994548},
    {2840, 0.448758221, 0.407778460},     {2850, 0.447992611, 0.407560353},
    {2860, 0.447230578, 0.407340269},     {2870, 0.446472111, 0.407118250},
    {2880, 0.445717198, 0.406894339},     {2890, 0.444965825, 0.406668576},
    {2900, 0.444217982, 0.406441002},     {2910, 0.443473655, 0.406211657},
    {2920, 0.442732832, 0.405980582},     {2930, 0.441995501, 0.405747813},
    {2940, 0.441261648, 0.405513391},     {2950, 0.440531261, 0.405277354},
    {2960, 0.439804328, 0.405039737},     {2970, 0.439080835, 0.404800579},
    {2980, 0.438360769, 0.404559916},     {2990, 0.437644117, 0.404317783},
    {3000, 0.436930867, 0.404074217},     {3010, 0.436221004, 0.403829251},
    {3020, 0.435514516, 0.403582920},     {3030, 0.434811390, 0.403335258},
    {3040, 0.434111611, 0.403086299},     {3050, 0.433415168, 0.402836074},
    {3060, 0.432722045, 0.402584617},     {3070, 0.432032230, 0.402331960},
    {3080, 0.431345709, 0.402078134},     {3090, 0.430662468, 0.401823170},
    {3100, 0.429982495, 0.401567098},     {3110, 0.429305774, 0.401309949},
    {3120, 0.428632293, 0.401051752},     {3130, 0.427962038, 0.400792537},
    {3140, 0.427294994, 0.400532332},     {3150, 0.426631149, 0.400271165},
    {3160, 0.425970488, 0.400009065},     {3170, 0.425312998, 0.399746059},
    {3180, 0.424658664, 0.399482174},     {3190, 0.424007473, 0.399217437},
    {3200, 0.423359411, 0.398951875},     {3210, 0.422714464, 0.398685512},
    {3220, 0.422072618, 0.398418374},     {3230, 0.421433859, 0.398150487},
    {3240, 0.420798173, 0.397881875},     {3250, 0.420165546, 0.397612562},
    {3260, 0.419535964, 0.397342573},     {3270, 0.418909414, 0.397071931},
    {3280, 0.418285881, 0.396800659},     {3290, 0.417665351, 0.396528780},
    {3300, 0.417047811, 0.396256317},     {3310, 0.416433246, 0.395983291},
    {3320, 0.415821642, 0.395709725},     {3330, 0.415212986, 0.395435639},
    {3340, 0.414607264, 0.395161055},     {3350, 0.414004461, 0.394885994},
    {3360, 0.413404564, 0.394610476},     {3370, 0.412807559, 0.394334521},
    {3380, 0.412213432, 0.394058148},     {3390, 0.411622170, 0.393781379},
    {3400, 0.411033757, 0.393504230},     {3410, 0.410448181, 0.393226722},
    {3420, 0.409865427, 0.392948873},     {3430, 0.409285483, 0.392670701},
    {3440, 0.408708333, 0.392392223},     {3450, 0.408133965, 0.392113458},
    {3460, 0.407562364, 0.391834423},     {3470, 0.406993518, 0.391555135},
    {3480, 0.406427411, 0.391275611},     {3490, 0.405864031, 0.390995867},
    {3500, 0.405303365, 0.390715919},     {3510, 0.404745397, 0.390435783},
    {3520, 0.404190116, 0.390155475},     {3530, 0.403637507, 0.389875010},
    {3540, 0.403087557, 0.389594404},     {3550, 0.402540252, 0.389313672},
    {3560, 0.401995579, 0.389032827},     {3570, 0.401453525, 0.388751884},
    {3580, 0.400914076, 0.388470858},     {3590, 0.400377220, 0.388189763},
    {3600, 0.399842942, 0.387908611},     {3610, 0.399311229, 0.387627417},
    {3620, 0.398782069, 0.387346193},     {3630, 0.398255448, 0.387064953},
    {3640, 0.397731353, 0.386783709},     {3650, 0.397209771, 0.386502474},
    {3660, 0.396690689, 0.386221259},     {3670, 0.396174094, 0.385940078},
    {3680, 0.395659973, 0.385658942},     {3690, 0.395148313, 0.385377862},
    {3700, 0.394639101, 0.385096851},     {3710, 0.394132325, 0.384815918},
    {3720, 0.393627971, 0.384535076},     {3730, 0.393126028, 0.384254335},
    {3740, 0.392626482, 0.383973705},     {3750, 0.392129320, 0.383693198},
    {3760, 0.391634531, 0.383412823},     {3770, 0.391142101, 0.383132590},
    {3780, 0.390652019, 0.382852510},     {3790, 0.390164270, 0.382572592},
    {3800, 0.389678845, 0.382292845},     {3810, 0.389195729, 0.382013278},
    {3820, 0.388714911, 0.381733902},     {3830, 0.388236378, 0.381454725},
    {3840, 0.387760119, 0.381175755},     {3850, 0.387286120, 0.380897002},
    {3860, 0.386814371, 0.380618474},     {3870, 0.386344858, 0.380340179},
    {3880, 0.385877571, 0.380062125},     {3890, 0.385412496, 0.379784320},
    {3900, 0.384949623, 0.379506773},     {3910, 0.384488939, 0.379229491},
    {3920, 0.384030433, 0.378952481},     {3930, 0.383574092, 0.378675751},
    {3940, 0.383119906, 0.378399308},     {3950, 0.382667862, 0.378123159},
    {3960, 0.382217949, 0.377847311},     {3970, 0.381770155, 0.377571772},
    {3980, 0.381324469, 0.377296547},     {3990, 0.380880880, 0.377021643},
    {4000, 0.380439377, 0.376747067},
};

static_assert(std::size(kColorSpaces) == 43);
static_assert(std::size(kDeviceClasses) == 11);
static_assert(std::size(kPlatforms) == 6);
static_assert(std::size(kLutTypes) == 5);
static_assert(std::size(kStageTypes) == 16);
static_assert(std::size(kImageStates) == 5);
static_assert(std::size(kTechnologies) == 26);
static_assert(std::size(kGeometries) == 3);
static_assert(std::size(kIlluminantTypes) == 9);
static_assert(std::size(kObservers) == 3);
static_assert(std::size(kSpotShapes) == 8);
static_assert(std::size(kCmms) == 31);
static_assert(std::size(kTags) == 233);
static_assert(std::size(kNamedWhitePoints) == 20);
static_assert(std::size(kPlanckianLocus) == 301);

int wildcardCount(krmUInt32Number signature)
{
    int count = 0;
    for (int shift = 0; shift < 32; shift += 8)
        if (((signature >> shift) & 0xFF) == kWildcard)
            ++count;
    return count;
}

bool wildcardMatches(krmUInt32Number pattern, krmUInt32Number value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        const krmUInt32Number p = (pattern >> shift) & 0xFF;
        if (p != kWildcard && p != ((value >> shift) & 0xFF))
            return false;
    }
    return true;
}

QString nameOrSignature(SignatureDictionary dictionary, krmUInt32Number value)
{
    const SignatureEntry* entry = lookupSignature(dictionary, value);
    return entry ? QString::fromUtf8(entry->name) : signatureText(value);
}

double distance(double x1, double y1, double x2, double y2)
{
    return std::sqrt((x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2));
}

} // namespace

SignatureDictionary colorSpaceDictionary() { return kColorSpaces; }
SignatureDictionary deviceClassDictionary() { return kDeviceClasses; }
SignatureDictionary platformDictionary() { return kPlatforms; }
SignatureDictionary lutTypeDictionary() { return kLutTypes; }
SignatureDictionary stageTypeDictionary() { return kStageTypes; }
SignatureDictionary imageStateDictionary() { return kImageStates; }
SignatureDictionary technologyDictionary() { return kTechnologies; }
SignatureDictionary geometryDictionary() { return kGeometries; }
SignatureDictionary illuminantTypeDictionary() { return kIlluminantTypes; }
SignatureDictionary observerDictionary() { return kObservers; }
SignatureDictionary spotShapeDictionary() { return kSpotShapes; }
SignatureDictionary cmmDictionary() { return kCmms; }
SignatureDictionary manufacturerDictionary() { return kManufacturers; }
SignatureDictionary tagDictionary() { return kTags; }
std::span<const NamedWhitePoint> namedWhitePoints() { return kNamedWhitePoints; }
std::span<const PlanckianPoint> planckianLocus() { return kPlanckianLocus; }

const SignatureEntry* lookupSignature(SignatureDictionary dictionary, krmUInt32Number value)
{
    for (const SignatureEntry& entry : dictionary)
        if (entry.signature == value)
            return &entry;

    const SignatureEntry* best = nullptr;
    int bestWildcards = 5;
    for (const SignatureEntry& entry : dictionary) {
        const int wildcards = wildcardCount(entry.signature);
        if (wildcards == 0 || wildcards >= bestWildcards)
            continue;
        if (wildcardMatches(entry.signature, value)) {
            best = &entry;
            bestWildcards = wildcards;
        }
    }
    return best;
}

QString signatureText(krmUInt32Number value)
{
    char text[4];
    int length = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((value >> shift) & 0xFF);
        if (c == 0)
            break;
        text[length++] = c;
    }
    return QString::fromUtf8(text, length);
}

QString profileIdText(const krmUInt8Number id[16])
{
    bool allZero = true;
    for (int i = 0; i < 16; ++i)
        allZero = allZero && id[i] == 0;
    if (allZero)
        return QCoreApplication::translate("Signatures", "Not computed");

    QStringList groups;
    for (int word = 0; word < 4; ++word) {
        const krmUInt8Number* b = id + 4 * word;
        const krmUInt32Number value = (krmUInt32Number(b[0]) << 24) | (krmUInt32Number(b[1]) << 16) |
                                      (krmUInt32Number(b[2]) << 8) | krmUInt32Number(b[3]);
        groups << QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
    }
    return groups.join(QLatin1Char('-')).toUpper();
}

QByteArray computeProfileId(const QByteArray& profile)
{
    if (profile.size() < 128)
        return QByteArray();
    const auto* p = reinterpret_cast<const uchar*>(profile.constData());
    const qsizetype declared = qsizetype((quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3]);
    // A header that claims more than the file holds: hash what is there (the ID then differs).
    QByteArray bytes = profile.left(declared >= 128 && declared < profile.size() ? declared : profile.size());
    for (const auto& [offset, length] : {std::pair{44, 4}, std::pair{64, 4}, std::pair{84, 16}})
        std::fill_n(bytes.begin() + offset, length, '\0');
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
}

ProfileIdStatus profileIdStatus(const QByteArray& profile, QByteArray* computed)
{
    const QByteArray id = computeProfileId(profile);
    if (computed)
        *computed = id;
    const QByteArray stored = profile.mid(84, 16);
    if (stored.size() < 16 || stored.count('\0') == 16)
        return ProfileIdStatus::Absent;
    return stored == id ? ProfileIdStatus::Matches : ProfileIdStatus::Differs;
}

QString profileIdStatusText(ProfileIdStatus status)
{
    switch (status) {
    case ProfileIdStatus::Absent: return QStringLiteral("absent");
    case ProfileIdStatus::Matches: return QStringLiteral("matches");
    case ProfileIdStatus::Differs: return QStringLiteral("differs");
    }
    return QString();
}

QString deviceAttributesText(krmUInt64Number attributes)
{
    // ICC.1:2010 Table 20, device attributes: only bits 0 to 3 are defined.
    const QStringList words = {
        (attributes & 1) ? QCoreApplication::translate("Signatures", "Transparency")
                         : QCoreApplication::translate("Signatures", "Reflective"),
        (attributes & 2) ? QCoreApplication::translate("Signatures", "Matte")
                         : QCoreApplication::translate("Signatures", "Glossy"),
        (attributes & 4) ? QCoreApplication::translate("Signatures", "Negative")
                         : QCoreApplication::translate("Signatures", "Positive"),
        (attributes & 8) ? QCoreApplication::translate("Signatures", "Black & white")
                         : QCoreApplication::translate("Signatures", "Color"),
    };
    return words.join(QStringLiteral(", "));
}

QString whitePointName(double x, double y, double tolerance)
{
    const NamedWhitePoint* nearest = nullptr;
    double nearestDistance = std::numeric_limits<double>::infinity();
    for (const NamedWhitePoint& point : kNamedWhitePoints) {
        const double d = distance(x, y, point.x, point.y);
        if (d < nearestDistance) {
            nearest = &point;
            nearestDistance = d;
        }
    }
    if (nearest && nearestDistance < tolerance)
        return QString::fromUtf8(nearest->name);

    const PlanckianPoint* nearestPlanck = nullptr;
    double planckDistance = std::numeric_limits<double>::infinity();
    for (const PlanckianPoint& point : kPlanckianLocus) {
        const double d = distance(x, y, point.x, point.y);
        if (d < planckDistance) {
            nearestPlanck = &point;
            planckDistance = d;
        }
    }

    double temperature = 0;
    if (nearestPlanck && planckDistance < 0.0001) {
        temperature = nearestPlanck->kelvin;
    } else {
        const krmCIExyY white = {x, y, 1.0};
        if (!krmTempFromWhitePoint(&temperature, &white))
            return QStringLiteral("xy: (%1,%2)").arg(x, 0, 'g', 6).arg(y, 0, 'g', 6);
    }
    return QStringLiteral("Temp: %1K").arg(static_cast<long long>(temperature));
}

QString tagName(krmUInt32Number signature) { return nameOrSignature(kTags, signature); }

QString tagNameForClass(krmUInt32Number signature, krmUInt32Number deviceClass)
{
    const QString name = tagName(signature);
    const krmUInt32Number prefix = signature & 0xFFFFFF00u;
    const bool toPcs = prefix == (sig("A2B0") & 0xFFFFFF00u) || prefix == (sig("D2B0") & 0xFFFFFF00u);
    if (!toPcs || deviceClass == sig("prtr"))
        return name;
    if (deviceClass == sig("link") && signature == sig("A2B0"))
        return QStringLiteral("AToB0 Device Link");
    QString plain = name;
    return plain.replace(QStringLiteral(" Proof"), QString());
}
QString colorSpaceName(krmUInt32Number signature) { return nameOrSignature(kColorSpaces, signature); }
QString deviceClassName(krmUInt32Number signature) { return nameOrSignature(kDeviceClasses, signature); }
QString platformName(krmUInt32Number signature) { return nameOrSignature(kPlatforms, signature); }
QString manufacturerName(krmUInt32Number signature) { return nameOrSignature(kManufacturers, signature); }
QString cmmName(krmUInt32Number signature) { return nameOrSignature(kCmms, signature); }
QString technologyName(krmUInt32Number signature) { return nameOrSignature(kTechnologies, signature); }
QString stageTypeName(krmUInt32Number signature) { return nameOrSignature(kStageTypes, signature); }
QString lutTypeName(krmUInt32Number signature) { return nameOrSignature(kLutTypes, signature); }
QString imageStateName(krmUInt32Number signature) { return nameOrSignature(kImageStates, signature); }
QString geometryName(krmUInt32Number code) { return nameOrSignature(kGeometries, code); }
QString illuminantTypeName(krmUInt32Number code) { return nameOrSignature(kIlluminantTypes, code); }
QString observerName(krmUInt32Number code) { return nameOrSignature(kObservers, code); }
QString spotShapeName(krmUInt32Number code) { return nameOrSignature(kSpotShapes, code); }

bool isPrivateTag(krmUInt32Number signature)
{
    const SignatureEntry* entry = lookupSignature(kTags, signature);
    return entry && entry->isPrivate;
}

bool isKnownTag(krmUInt32Number signature) { return lookupSignature(kTags, signature) != nullptr; }
bool isRegisteredCmm(krmUInt32Number signature) { return lookupSignature(kCmms, signature) != nullptr; }
bool isRegisteredManufacturer(krmUInt32Number signature) { return lookupSignature(kManufacturers, signature) != nullptr; }
