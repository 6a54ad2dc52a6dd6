// CGATS.17 reader: recognition, tokenizer, header, data-format and data sections, includes.

#include "krm_internal.h"

#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

namespace {

constexpr int kMaxTables = 254;
constexpr int kMaxIncludeDepth = 20;  // the main text plus 19 nested files
constexpr krmUInt32Number kMaxIncludeSize = 64u << 20;
constexpr int kMaxSheetType = 1024;

enum Symbol {
    SUNDEFINED,
    SINUM,
    SDNUM,
    SIDENT,
    SSTRING,
    SEOLN,
    SEOF,
    SSYNERROR,
    SBEGIN_DATA,
    SBEGIN_DATA_FORMAT,
    SEND_DATA,
    SEND_DATA_FORMAT,
    SKEYWORD,
    SDATA_FORMAT_ID,
    SINCLUDE,
};

struct KeyWord {
    const char* id;
    Symbol sy;
};

const KeyWord kKeywords[] = {
    {"$INCLUDE", SINCLUDE},
    {".INCLUDE", SINCLUDE},
    {"BEGIN_DATA", SBEGIN_DATA},
    {"BEGIN_DATA_FORMAT", SBEGIN_DATA_FORMAT},
    {"DATA_FORMAT_IDENTIFIER", SDATA_FORMAT_ID},
    {"END_DATA", SEND_DATA},
    {"END_DATA_FORMAT", SEND_DATA_FORMAT},
    {"KEYWORD", SKEYWORD},
};

enum WriteMode { WRITE_UNCOOKED = 0, WRITE_STRINGIFY = 1, WRITE_PAIR = 4 };

struct PropertyDef {
    const char* id;
    WriteMode as;
};

const PropertyDef kPredefinedProperties[] = {
    {"NUMBER_OF_FIELDS", WRITE_UNCOOKED},
    {"NUMBER_OF_SETS", WRITE_UNCOOKED},
    {"ORIGINATOR", WRITE_STRINGIFY},
    {"FILE_DESCRIPTOR", WRITE_STRINGIFY},
    {"CREATED", WRITE_STRINGIFY},
    {"DESCRIPTOR", WRITE_STRINGIFY},
    {"DIFFUSE_GEOMETRY", WRITE_STRINGIFY},
    {"MANUFACTURER", WRITE_STRINGIFY},
    {"MANUFACTURE", WRITE_STRINGIFY},
    {"PROD_DATE", WRITE_STRINGIFY},
    {"SERIAL", WRITE_STRINGIFY},
    {"MATERIAL", WRITE_STRINGIFY},
    {"INSTRUMENTATION", WRITE_STRINGIFY},
    {"MEASUREMENT_SOURCE", WRITE_STRINGIFY},
    {"PRINT_CONDITIONS", WRITE_STRINGIFY},
    {"SAMPLE_BACKING", WRITE_STRINGIFY},
    {"CHISQ_DOF", WRITE_STRINGIFY},
    {"MEASUREMENT_GEOMETRY", WRITE_STRINGIFY},
    {"FILTER", WRITE_STRINGIFY},
    {"POLARIZATION", WRITE_STRINGIFY},
    {"WEIGHTING_FUNCTION", WRITE_PAIR},
    {"COMPUTATIONAL_PARAMETER", WRITE_PAIR},
    {"TARGET_TYPE", WRITE_STRINGIFY},
    {"COLORANT", WRITE_STRINGIFY},
    {"TABLE_DESCRIPTOR", WRITE_STRINGIFY},
    {"TABLE_NAME", WRITE_STRINGIFY},
};

const char* const kPredefinedSamples[] = {
    "SAMPLE_ID",   "STRING",      "CMYK_C",     "CMYK_M",      "CMYK_Y",      "CMYK_K",    "D_RED",
    "D_GREEN",     "D_BLUE",      "D_VIS",      "D_MAJOR_FILTER", "RGB_R",    "RGB_G",     "RGB_B",
    "SPECTRAL_NM", "SPECTRAL_PCT", "SPECTRAL_DEC", "XYZ_X",      "XYZ_Y",       "XYZ_Z",     "XYY_X",
    "XYY_Y",       "XYY_CAPY",    "LAB_L",      "LAB_A",       "LAB_B",       "LAB_C",     "LAB_H",
    "LAB_DE",      "LAB_DE_94",   "LAB_DE_CMC", "LAB_DE_2000", "MEAN_DE",     "STDEV_X",   "STDEV_Y",
    "STDEV_Z",     "STDEV_L",     "STDEV_A",    "STDEV_B",     "STDEV_DE",    "CHI_SQD_PAR",
};

// A property, a sub-property of a WRITE_PAIR property, or an allowed name.
struct KeyValue {
    KeyValue* Next;
    char* Keyword;
    char* Value;
    WriteMode WriteAs;
    KeyValue* Subkeys;  // name,value pairs in stored order
};

struct Table {
    char SheetType[kMaxSheetType];
    KeyValue* HeaderList;  // stored order
    int nSamples;  // fields
    int nFormat;  // names in DataFormat
    int nPatches;  // sets
    int SampleID;  // index of the SAMPLE_ID field, -1 without one
    char** DataFormat;
    char** Data;
};

struct FileFrame {
    const char* Base;  // zero-terminated text
    krmUInt32Number Size;
    krmUInt32Number Pos;
    int LineNo;
    char FileName[krmMAX_PATH];
    char* Owned;  // buffer of an included file, freed when the frame is popped
    int SavedCh;  // the look-ahead character while a nested file is read
};

struct PoolBlock {
    PoolBlock* Next;
    krmUInt32Number Size;
    krmUInt32Number Used;
};

}  // namespace

struct _krmIT8_struct {
    krmContext ContextID;
    Table Tab[kMaxTables];
    int TablesCount;
    int nTable;

    PoolBlock* Pool;

    KeyValue* ValidKeywords;
    KeyValue* ValidSamples;

    // Tokenizer state.
    Symbol sy;
    int ch;
    int inum;
    double dnum;
    char* id;  // current identifier or string (pool-independent buffer)
    krmUInt32Number idCap;
    krmUInt32Number idLen;

    FileFrame Stack[kMaxIncludeDepth];
    int IncludeSP;
};

namespace {

typedef _krmIT8_struct IT8;

// ---------------------------------------------------------------------------------------------
// Sub-allocator: blocks of at least 20480 bytes, doubling; everything is freed at once.
// ---------------------------------------------------------------------------------------------

void* poolAlloc(IT8* it8, krmUInt32Number size)
{
    size = (size + 7) & ~7u;
    if (size == 0 || size > 0x40000000u)
        return nullptr;
    PoolBlock* b = it8->Pool;
    const krmUInt32Number header = (sizeof(PoolBlock) + 7) & ~7u;
    if (b == nullptr || b->Size - b->Used < size) {
        krmUInt32Number blockSize = 20480;
        if (b != nullptr && b->Size * 2 > blockSize && b->Size < 0x20000000u)
            blockSize = b->Size * 2;
        if (size > blockSize)
            blockSize = size;
        PoolBlock* nb = (PoolBlock*)krmMalloc(it8->ContextID, header + blockSize);
        if (nb == nullptr)
            return nullptr;
        nb->Next = b;
        nb->Size = blockSize;
        nb->Used = 0;
        it8->Pool = nb;
        b = nb;
    }
    void* p = (krmUInt8Number*)b + header + b->Used;
    b->Used += size;
    std::memset(p, 0, size);
    return p;
}

char* poolStrDup(IT8* it8, const char* s)
{
    size_t n = std::strlen(s);
    if (n >= 0x3FFFFFFF)
        return nullptr;
    char* p = (char*)poolAlloc(it8, krmUInt32Number(n + 1));
    if (p != nullptr)
        std::memcpy(p, s, n + 1);
    return p;
}

void freePool(IT8* it8)
{
    PoolBlock* b = it8->Pool;
    while (b != nullptr) {
        PoolBlock* next = b->Next;
        krmFree(it8->ContextID, b);
        b = next;
    }
    it8->Pool = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------------------------

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
bool synError(IT8* it8, const char* fmt, ...)
{
    char msg[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(msg, sizeof msg, fmt, args);
    va_end(args);

    const FileFrame& f = it8->Stack[it8->IncludeSP];
    krmSignalError(it8->ContextID, krmErrCorruptionDetected, "%s: Line %d, %s", f.FileName, f.LineNo, msg);
    it8->sy = SSYNERROR;
    return false;
}

Table* getTable(IT8* it8)
{
    if (it8->nTable < 0 || it8->nTable >= it8->TablesCount) {
        krmSignalError(it8->ContextID, krmErrRange, "Table %d out of sequence", it8->nTable);
        return &it8->Tab[0];
    }
    return &it8->Tab[it8->nTable];
}

// ---------------------------------------------------------------------------------------------
// Name lists
// ---------------------------------------------------------------------------------------------

KeyValue* findKey(KeyValue* list, const char* key)
{
    for (KeyValue* p = list; p != nullptr; p = p->Next)
        if (strcasecmp(p->Keyword, key) == 0)
            return p;
    return nullptr;
}

// Appends to the end of a list, keeping stored order.
KeyValue* appendKey(IT8* it8, KeyValue** list, const char* key, const char* value, WriteMode as)
{
    KeyValue* p = (KeyValue*)poolAlloc(it8, sizeof(KeyValue));
    if (p == nullptr) {
        synError(it8, "AddToList: out of memory");
        return nullptr;
    }
    p->Keyword = poolStrDup(it8, key);
    p->Value = value ? poolStrDup(it8, value) : nullptr;
    if (p->Keyword == nullptr || (value && p->Value == nullptr)) {
        synError(it8, "AddToList: out of memory");
        return nullptr;
    }
    p->WriteAs = as;
    KeyValue** tail = list;
    while (*tail != nullptr)
        tail = &(*tail)->Next;
    *tail = p;
    return p;
}

bool addAvailableProperty(IT8* it8, const char* key, WriteMode as)
{
    if (findKey(it8->ValidKeywords, key) != nullptr)
        return true;
    return appendKey(it8, &it8->ValidKeywords, key, nullptr, as) != nullptr;
}

bool addAvailableSample(IT8* it8, const char* key)
{
    if (findKey(it8->ValidSamples, key) != nullptr)
        return true;
    return appendKey(it8, &it8->ValidSamples, key, nullptr, WRITE_UNCOOKED) != nullptr;
}

bool allocTable(IT8* it8)
{
    if (it8->TablesCount >= kMaxTables)
        return false;  // refused without a message
    Table* t = &it8->Tab[it8->TablesCount++];
    std::memset(t, 0, sizeof(Table));
    t->SampleID = -1;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Tokenizer
// ---------------------------------------------------------------------------------------------

bool isSeparator(int c) { return c == ' ' || c == '\t'; }
bool isFirstIdChar(int c) { return c == '!' || (c >= '$' && c <= '&') || (c >= '(' && c <= '~'); }
bool isIdChar(int c) { return isFirstIdChar(c); }
bool isDigit(int c) { return c >= '0' && c <= '9'; }

void nextCh(IT8* it8)
{
    FileFrame& f = it8->Stack[it8->IncludeSP];
    if (f.Pos < f.Size) {
        it8->ch = krmUInt8Number(f.Base[f.Pos]);
        f.Pos++;
    } else {
        it8->ch = 0;
    }
}

int peekCh(IT8* it8)
{
    const FileFrame& f = it8->Stack[it8->IncludeSP];
    return f.Pos < f.Size ? krmUInt8Number(f.Base[f.Pos]) : 0;
}

bool idReserve(IT8* it8, krmUInt32Number n)
{
    if (n <= it8->idCap)
        return true;
    krmUInt32Number cap = it8->idCap ? it8->idCap : 256;
    while (cap < n) {
        if (cap > 0x20000000u)
            return false;
        cap *= 2;
    }
    char* p = (char*)krmRealloc(it8->ContextID, it8->id, cap);
    if (p == nullptr)
        return false;
    it8->id = p;
    it8->idCap = cap;
    return true;
}

bool idPutc(IT8* it8, int c)
{
    if (!idReserve(it8, it8->idLen + 2))
        return synError(it8, "Out of memory");
    it8->id[it8->idLen++] = char(c);
    it8->id[it8->idLen] = 0;
    return true;
}

bool idSet(IT8* it8, const char* s)
{
    it8->idLen = 0;
    if (!idReserve(it8, 2))
        return synError(it8, "Out of memory");
    it8->id[0] = 0;
    for (; *s; s++)
        if (!idPutc(it8, *s))
            return false;
    return true;
}

void formatDouble(double v, char* buf, size_t size)
{
    auto r = std::to_chars(buf, buf + size - 1, v, std::chars_format::general, 10);
    *r.ptr = 0;
}

Symbol lookupKeyword(const char* id)
{
    for (const KeyWord& k : kKeywords)
        if (strcasecmp(k.id, id) == 0)
            return k.sy;
    return SIDENT;
}

bool pushIncludeFile(IT8* it8, const char* name);

// Reads a number starting at the current character; may turn into an identifier.
void readNumber(IT8* it8)
{
    char lexeme[512];
    size_t n = 0;
    bool negative = false;
    bool isReal = false;

    if (it8->ch == '-' || it8->ch == '+') {
        negative = it8->ch == '-';
        lexeme[n++] = char(it8->ch);
        nextCh(it8);
    }

    if (it8->ch == '0' && (peekCh(it8) == 'x' || peekCh(it8) == 'X' || peekCh(it8) == 'b' || peekCh(it8) == 'B')) {
        bool hex = peekCh(it8) == 'x' || peekCh(it8) == 'X';
        nextCh(it8);
        nextCh(it8);
        long long v = 0;
        for (;;) {
            int c = it8->ch, d;
            if (hex && isDigit(c))
                d = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else if (!hex && (c == '0' || c == '1'))
                d = c - '0';
            else
                break;
            v = v * (hex ? 16 : 2) + d;
            if (v > INT_MAX) {
                synError(it8, hex ? "Invalid hexadecimal number" : "Invalid binary number");
                return;
            }
            nextCh(it8);
        }
        it8->inum = int(negative ? -v : v);
        it8->sy = SINUM;
    } else {
        while (isDigit(it8->ch) && n < sizeof lexeme - 8) {
            lexeme[n++] = char(it8->ch);
            nextCh(it8);
        }
        while (isDigit(it8->ch)) {  // absurdly long: keep magnitude only
            isReal = true;
            nextCh(it8);
        }
        if (it8->ch == '.') {
            isReal = true;
            lexeme[n++] = '.';
            nextCh(it8);
            while (isDigit(it8->ch)) {
                if (n < sizeof lexeme - 8)
                    lexeme[n++] = char(it8->ch);
                nextCh(it8);
            }
        }
        if ((it8->ch == 'e' || it8->ch == 'E') &&
            (isDigit(peekCh(it8)) || peekCh(it8) == '-' || peekCh(it8) == '+')) {
            isReal = true;
            lexeme[n++] = 'e';
            nextCh(it8);
            if (it8->ch == '-' || it8->ch == '+') {
                lexeme[n++] = char(it8->ch);
                nextCh(it8);
            }
            while (isDigit(it8->ch)) {
                if (n < sizeof lexeme - 2)
                    lexeme[n++] = char(it8->ch);
                nextCh(it8);
            }
        }
        lexeme[n] = 0;

        const char* start = lexeme[0] == '+' ? lexeme + 1 : lexeme;
        double d = 0;
        std::from_chars(start, lexeme + n, d);
        if (!isReal && d >= double(INT_MIN) && d <= double(INT_MAX)) {
            it8->inum = int(d);
            it8->sy = SINUM;
        } else {
            it8->dnum = d;
            it8->sy = SDNUM;
        }
    }

    // A number glued to word characters is an identifier spelled from the number as printed.
    if (isIdChar(it8->ch)) {
        char printed[64];
        if (it8->sy == SINUM)
            std::snprintf(printed, sizeof printed, "%d", it8->inum);
        else
            formatDouble(it8->dnum, printed, sizeof printed);
        if (!idSet(it8, printed))
            return;
        while (isIdChar(it8->ch)) {
            if (!idPutc(it8, it8->ch))
                return;
            nextCh(it8);
        }
        it8->sy = SIDENT;
    }
}

void inSymbol(IT8* it8)
{
    for (;;) {
        while (isSeparator(it8->ch))
            nextCh(it8);

        if (it8->ch == 0 || it8->ch == 0x1A) {
            // The end of an included file returns to the file that included it.
            if (it8->IncludeSP > 0) {
                FileFrame& f = it8->Stack[it8->IncludeSP];
                krmFree(it8->ContextID, f.Owned);
                f.Owned = nullptr;
                it8->IncludeSP--;
                it8->ch = it8->Stack[it8->IncludeSP].SavedCh;
                continue;
            }
            it8->sy = SEOF;
            return;
        }

        if (it8->ch == '\n' || it8->ch == '\r') {
            if (it8->ch == '\r' && peekCh(it8) == '\n')
                nextCh(it8);
            it8->Stack[it8->IncludeSP].LineNo++;
            nextCh(it8);
            it8->sy = SEOLN;
            return;
        }

        if (it8->ch == '#') {
            while (it8->ch != 0 && it8->ch != '\n' && it8->ch != '\r')
                nextCh(it8);
            continue;
        }

        if (it8->ch == '"' || it8->ch == '\'') {
            int quote = it8->ch;
            it8->idLen = 0;
            if (!idSet(it8, ""))
                return;
            nextCh(it8);
            while (it8->ch != quote && it8->ch != 0 && it8->ch != '\n' && it8->ch != '\r') {
                if (!idPutc(it8, it8->ch))
                    return;
                nextCh(it8);
            }
            if (it8->ch == quote)
                nextCh(it8);
            it8->sy = SSTRING;
            return;
        }

        bool startsNumber = isDigit(it8->ch) ||
                            ((it8->ch == '-' || it8->ch == '+' || it8->ch == '.') &&
                             (isDigit(peekCh(it8)) || (it8->ch != '.' && peekCh(it8) == '.')));
        if (startsNumber) {
            readNumber(it8);
            return;
        }

        if (isFirstIdChar(it8->ch)) {
            it8->idLen = 0;
            if (!idSet(it8, ""))
                return;
            while (isIdChar(it8->ch)) {
                if (!idPutc(it8, it8->ch))
                    return;
                nextCh(it8);
            }
            it8->sy = lookupKeyword(it8->id);
            if (it8->sy != SINCLUDE)
                return;

            inSymbol(it8);
            if (it8->sy == SSYNERROR)
                return;
            if (it8->sy != SSTRING) {
                synError(it8, "Filename expected");
                return;
            }
            char name[krmMAX_PATH * 2];
            std::snprintf(name, sizeof name, "%s", it8->id);
            if (!pushIncludeFile(it8, name))
                return;
            continue;
        }

        synError(it8, "Unrecognized character: 0x%x", it8->ch);
        return;
    }
}

void skipEOLN(IT8* it8)
{
    while (it8->sy == SEOLN)
        inSymbol(it8);
}

// A name starting with a separator or a drive letter is used as it is; any other name is taken
// relative to the directory of the including file.
bool pushIncludeFile(IT8* it8, const char* name)
{
    if (it8->IncludeSP + 1 >= kMaxIncludeDepth)
        return synError(it8, "Too many recursion levels");

    char path[krmMAX_PATH];
    bool absolute = name[0] == '\\' || name[0] == '/' ||
                    (((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) && name[1] == ':');
    if (absolute) {
        if (std::strlen(name) >= sizeof path)
            return synError(it8, "File path too long");
        std::strcpy(path, name);
    } else {
        const char* cur = it8->Stack[it8->IncludeSP].FileName;
        const char* sep = nullptr;
        for (const char* p = cur; *p; p++)
            if (*p == '\\' || *p == '/')
                sep = p;
        if (sep == nullptr)
            return synError(it8, "File path too long");
        size_t dirLen = size_t(sep - cur) + 1;
        if (dirLen >= krmMAX_PATH - 1 || dirLen + std::strlen(name) >= sizeof path)
            return synError(it8, "File path too long");
        std::memcpy(path, cur, dirLen);
        std::strcpy(path + dirLen, name);
    }

    // Never a network path: text inside a profile must not make the reader reach out to a
    // server (and hand it the user's credentials on the way).
    if ((path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/'))
        return synError(it8, "File %s not found", path);

    // Only regular files of a sane size: a device or a pipe must not stall the reader.
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return synError(it8, "File %s not found", path);
    if (st.st_size >= off_t(kMaxIncludeSize))
        return synError(it8, "Out of memory");
    FILE* fp = std::fopen(path, "rb");
    if (fp == nullptr)
        return synError(it8, "File %s not found", path);
    krmUInt32Number size = krmUInt32Number(st.st_size);
    char* buf = (char*)krmMalloc(it8->ContextID, size + 1);
    if (buf == nullptr) {
        std::fclose(fp);
        return synError(it8, "Out of memory");
    }
    size_t got = size ? std::fread(buf, 1, size, fp) : 0;
    std::fclose(fp);
    buf[got] = 0;

    // Reading resumes with the character after the file name when the included file ends.
    it8->Stack[it8->IncludeSP].SavedCh = it8->ch;

    FileFrame& f = it8->Stack[++it8->IncludeSP];
    std::memset(&f, 0, sizeof f);
    f.Base = buf;
    f.Owned = buf;
    f.Size = krmUInt32Number(got);
    f.LineNo = 1;
    std::snprintf(f.FileName, sizeof f.FileName, "%s", path);
    nextCh(it8);
    return true;
}

// The text of the current value token, as stored in properties and data.
bool getVal(IT8* it8, char* buf, size_t size, const char* errorTitle)
{
    switch (it8->sy) {
    case SEOLN:
        buf[0] = 0;
        return true;
    case SIDENT:
    case SSTRING:
        std::snprintf(buf, size, "%s", it8->id);
        return true;
    case SINUM:
        std::snprintf(buf, size, "%d", it8->inum);
        return true;
    case SDNUM:
        formatDouble(it8->dnum, buf, size);
        return true;
    default:
        return synError(it8, "%s", errorTitle);
    }
}

// ---------------------------------------------------------------------------------------------
// Properties and data of a table
// ---------------------------------------------------------------------------------------------

int propertyInt(Table* t, const char* key)
{
    KeyValue* p = findKey(t->HeaderList, key);
    if (p == nullptr || p->Value == nullptr)
        return 0;
    long v = 0;
    const char* s = p->Value;
    while (*s == ' ')
        s++;
    auto r = std::from_chars(s, s + std::strlen(s), v);
    if (r.ec != std::errc())
        return 0;
    return v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : int(v));
}

void trim(char*& b, char*& e)
{
    while (b < e && (*b == ' ' || *b == '\t'))
        b++;
    while (e > b && (e[-1] == ' ' || e[-1] == '\t'))
        e--;
}

// "name,value;name,value" into sub-properties.
bool splitPairs(IT8* it8, KeyValue* prop, const char* text)
{
    char* copy = poolStrDup(it8, text);
    if (copy == nullptr)
        return synError(it8, "Allocation error");
    char* s = copy;
    while (*s) {
        char* end = std::strchr(s, ';');
        if (end == nullptr)
            end = s + std::strlen(s);
        char* comma = (char*)std::memchr(s, ',', size_t(end - s));
        char *nb = s, *ne = comma ? comma : end;
        char *vb = comma ? comma + 1 : end, *ve = end;
        trim(nb, ne);
        trim(vb, ve);
        bool last = *end == 0;
        *ne = 0;
        *ve = 0;
        if (*nb != 0 && appendKey(it8, &prop->Subkeys, nb, vb, WRITE_STRINGIFY) == nullptr)
            return false;
        if (last)
            break;
        s = end + 1;
    }
    return true;
}

bool setProperty(IT8* it8, const char* key, const char* value, bool valueIsString)
{
    Table* t = getTable(it8);

    if (!addAvailableProperty(it8, key, WRITE_STRINGIFY))
        return false;
    KeyValue* def = findKey(it8->ValidKeywords, key);
    WriteMode as = def ? def->WriteAs : WRITE_STRINGIFY;

    if (as == WRITE_PAIR && !valueIsString)
        return synError(it8, "Invalid value '%s' for property '%s'.", value, key);

    KeyValue* existing = findKey(t->HeaderList, key);
    if (existing != nullptr) {
        bool repeatable = strcasecmp(key, "NUMBER_OF_FIELDS") == 0 || strcasecmp(key, "NUMBER_OF_SETS") == 0 ||
                          key[0] == '#';
        if (!repeatable)
            return synError(it8, "duplicate key <%s>", key);
        existing->Value = poolStrDup(it8, value);
        if (existing->Value == nullptr)
            return synError(it8, "Allocation error");
        return true;
    }

    KeyValue* p = appendKey(it8, &t->HeaderList, key, value, as);
    if (p == nullptr)
        return false;
    if (as == WRITE_PAIR)
        return splitPairs(it8, p, value);
    return true;
}

bool allocateDataFormat(IT8* it8)
{
    Table* t = getTable(it8);
    if (t->DataFormat != nullptr)
        return true;
    t->nSamples = propertyInt(t, "NUMBER_OF_FIELDS");
    if (t->nSamples <= 0 || t->nSamples > 0x7ffe)
        return synError(it8, "Wrong NUMBER_OF_FIELDS");
    t->DataFormat = (char**)poolAlloc(it8, krmUInt32Number(t->nSamples + 1) * sizeof(char*));
    if (t->DataFormat == nullptr)
        return synError(it8, "Unable to allocate dataFormat array");
    t->nFormat = t->nSamples;
    return true;
}

bool setDataFormat(IT8* it8, int n, const char* label)
{
    Table* t = getTable(it8);
    if (t->DataFormat == nullptr && !allocateDataFormat(it8))
        return false;
    if (n >= t->nSamples)
        return synError(it8, "Invalid or more than NUMBER_OF_FIELDS fields.");
    t->DataFormat[n] = poolStrDup(it8, label);
    if (t->DataFormat[n] == nullptr)
        return synError(it8, "Allocation error");
    if (strcasecmp(label, "SAMPLE_ID") == 0)
        t->SampleID = n;
    return true;
}

bool allocateDataSet(IT8* it8)
{
    Table* t = getTable(it8);
    if (t->Data != nullptr)
        return true;
    t->nSamples = propertyInt(t, "NUMBER_OF_FIELDS");
    t->nPatches = propertyInt(t, "NUMBER_OF_SETS");
    if (t->nSamples < 0 || t->nSamples > 0x7ffe || t->nPatches < 0 || t->nPatches > 0x7ffe ||
        long(t->nSamples) * long(t->nPatches) > 200000)
        return synError(it8, "AllocateDataSet: too much data");
    // NUMBER_OF_FIELDS changed after the data format was read.
    if (t->DataFormat != nullptr && t->nSamples != t->nFormat)
        return synError(it8, "Count mismatch. NUMBER_OF_FIELDS was %d, found %d\n", t->nSamples, t->nFormat);
    krmUInt32Number cells = krmUInt32Number(t->nSamples) * krmUInt32Number(t->nPatches);
    t->Data = (char**)poolAlloc(it8, (cells + 1) * krmUInt32Number(sizeof(char*)));
    if (t->Data == nullptr)
        return synError(it8, "AllocateDataSet: Unable to allocate data array");
    return true;
}

bool setData(IT8* it8, int nSet, int nField, const char* value)
{
    Table* t = getTable(it8);
    if (t->Data == nullptr && !allocateDataSet(it8))
        return false;
    if (nSet >= t->nPatches)
        return synError(it8, "Patch %d out of range, there are %d patches", nSet, t->nPatches);
    if (nField >= t->nSamples)
        return synError(it8, "Sample %d out of range, there are %d samples", nField, t->nSamples);
    char* v = poolStrDup(it8, value);
    if (v == nullptr)
        return synError(it8, "Allocation error");
    t->Data[nSet * t->nSamples + nField] = v;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Sections
// ---------------------------------------------------------------------------------------------

bool dataFormatSection(IT8* it8)
{
    int iField = 0;
    Table* t = getTable(it8);

    inSymbol(it8);  // past BEGIN_DATA_FORMAT
    skipEOLN(it8);
    if (!allocateDataFormat(it8))
        return false;

    while (it8->sy != SEND_DATA_FORMAT && it8->sy != SEOF && it8->sy != SSYNERROR) {
        if (it8->sy != SIDENT)
            return synError(it8, "Sample type expected");
        if (!setDataFormat(it8, iField, it8->id))
            return false;
        iField++;
        inSymbol(it8);
        skipEOLN(it8);
    }
    if (it8->sy == SSYNERROR)
        return false;

    skipEOLN(it8);
    if (it8->sy != SEND_DATA_FORMAT && it8->sy != SSYNERROR)
        return synError(it8, "Sample type expected");
    if (iField != t->nSamples)
        return synError(it8, "Count mismatch. NUMBER_OF_FIELDS was %d, found %d\n", t->nSamples, iField);
    inSymbol(it8);
    skipEOLN(it8);
    return it8->sy != SSYNERROR;
}

bool dataSection(IT8* it8)
{
    int iField = 0, iSet = 0;
    char buffer[256];
    Table* t = getTable(it8);

    inSymbol(it8);  // past BEGIN_DATA
    skipEOLN(it8);
    if (it8->sy == SSYNERROR)
        return false;
    if (t->Data == nullptr && !allocateDataSet(it8))
        return false;

    while (it8->sy != SEND_DATA && it8->sy != SEOF) {
        if (iField >= t->nSamples) {
            iField = 0;
            iSet++;
        }
        switch (it8->sy) {
        case SIDENT:
        case SSTRING:
            if (!setData(it8, iSet, iField, it8->id))
                return false;
            break;
        case SINUM:
        case SDNUM:
        case SEOLN:
            if (!getVal(it8, buffer, sizeof buffer, "Sample data expected") || !setData(it8, iSet, iField, buffer))
                return false;
            break;
        default:
            return synError(it8, "Sample data expected");
        }
        iField++;
        inSymbol(it8);
        skipEOLN(it8);
        if (it8->sy == SSYNERROR)
            return false;
    }

    skipEOLN(it8);
    if (it8->sy != SEND_DATA)
        return synError(it8, "Count mismatch. NUMBER_OF_SETS was %d, found %d\n", t->nPatches,
                        iField > 0 ? iSet + 1 : iSet);
    int rows = iField > 0 ? iSet + 1 : iSet;
    if (rows != t->nPatches)
        return synError(it8, "Count mismatch. NUMBER_OF_SETS was %d, found %d\n", t->nPatches, rows);
    inSymbol(it8);
    skipEOLN(it8);
    return it8->sy != SSYNERROR;
}

bool headerSection(IT8* it8)
{
    char buffer[1024];

    while (it8->sy != SEOF && it8->sy != SSYNERROR && it8->sy != SBEGIN_DATA_FORMAT && it8->sy != SBEGIN_DATA) {
        switch (it8->sy) {
        case SKEYWORD:
            inSymbol(it8);
            if (it8->sy != SIDENT && it8->sy != SSTRING)
                return synError(it8, "Property data expected");
            if (!addAvailableProperty(it8, it8->id, WRITE_STRINGIFY))
                return false;
            inSymbol(it8);
            break;

        case SDATA_FORMAT_ID:
            inSymbol(it8);
            if (it8->sy != SIDENT && it8->sy != SSTRING)
                return synError(it8, "Property data expected");
            if (!addAvailableSample(it8, it8->id))
                return false;
            inSymbol(it8);
            break;

        case SIDENT: {
            char key[1024];
            std::snprintf(key, sizeof key, "%s", it8->id);
            inSymbol(it8);
            if (it8->sy == SSYNERROR)
                return false;
            bool isString = it8->sy == SSTRING;
            if (it8->sy == SEOF)
                buffer[0] = 0;  // a last line without its line end
            else if (!getVal(it8, buffer, sizeof buffer, "Property data expected"))
                return false;
            if (!setProperty(it8, key, buffer, isString))
                return false;
            if (it8->sy != SEOLN && it8->sy != SEOF)
                inSymbol(it8);
            break;
        }

        case SEOLN:
            break;

        default:
            return synError(it8, "expected keyword or identifier");
        }
        if (it8->sy == SSYNERROR)
            return false;
        skipEOLN(it8);
    }
    return it8->sy != SSYNERROR;
}

// After a data section: an identifier alone on its line, or a string, names the next table.
void readNextSheetType(IT8* it8)
{
    Table* t = getTable(it8);
    if (it8->sy == SIDENT) {
        while (isSeparator(it8->ch))
            nextCh(it8);
        if (it8->ch == '\n' || it8->ch == '\r' || it8->ch == 0) {
            std::snprintf(t->SheetType, sizeof t->SheetType, "%s", it8->id);
            inSymbol(it8);
        } else {
            t->SheetType[0] = 0;
        }
    } else if (it8->sy == SSTRING) {
        std::snprintf(t->SheetType, sizeof t->SheetType, "%s", it8->id);
        inSymbol(it8);
    }
}

bool parseIT8(IT8* it8, bool sheetOnFirstLine)
{
    inSymbol(it8);
    while (it8->sy != SEOF && it8->sy != SSYNERROR) {
        switch (it8->sy) {
        case SBEGIN_DATA_FORMAT:
            if (!dataFormatSection(it8))
                return false;
            break;

        case SBEGIN_DATA:
            if (!dataSection(it8))
                return false;
            if (it8->sy != SEOF) {
                if (!allocTable(it8))
                    return false;
                it8->nTable = it8->TablesCount - 1;
                if (sheetOnFirstLine)
                    readNextSheetType(it8);
            }
            break;

        case SEOLN:
            skipEOLN(it8);
            break;

        default:
            if (!headerSection(it8))
                return false;
        }
    }
    return it8->sy != SSYNERROR;
}

// Fields named LABEL or starting with '$' whose value names a property of some table get that
// table's index and the property's value appended.
bool cookPointers(IT8* it8)
{
    char buffer[1024];
    int saved = it8->nTable;

    for (int j = 0; j < it8->TablesCount; j++) {
        Table* t = &it8->Tab[j];
        it8->nTable = j;
        t->SampleID = -1;
        if (t->nSamples <= 0)
            continue;
        if (t->DataFormat == nullptr) {
            it8->nTable = saved;
            return synError(it8, "Undefined DATA_FORMAT");
        }
        for (int idField = 0; idField < t->nSamples; idField++) {
            const char* fld = t->DataFormat[idField];
            if (fld == nullptr)
                continue;
            if (strcasecmp(fld, "SAMPLE_ID") == 0) {
                t->SampleID = idField;
                continue;
            }
            if (strcasecmp(fld, "LABEL") != 0 && fld[0] != '$')
                continue;
            if (t->Data == nullptr)
                continue;
            for (int i = 0; i < t->nPatches; i++) {
                const char* label = t->Data[i * t->nSamples + idField];
                if (label == nullptr)
                    continue;
                for (int k = 0; k < it8->TablesCount; k++) {
                    KeyValue* p = findKey(it8->Tab[k].HeaderList, label);
                    if (p == nullptr)
                        continue;
                    std::snprintf(buffer, sizeof buffer, "%s %d %s", label, k, p->Value ? p->Value : "");
                    char* v = poolStrDup(it8, buffer);
                    if (v == nullptr) {
                        it8->nTable = saved;
                        return synError(it8, "Allocation error");
                    }
                    t->Data[i * t->nSamples + idField] = v;
                    break;
                }
            }
        }
    }
    it8->nTable = saved;
    return true;
}

// Counts the words of the first line: 0 refuses the block.
int isMyBlock(const krmUInt8Number* buffer, krmUInt32Number n)
{
    if (n <= 9)
        return 0;
    int words = 0;
    bool space = true;
    bool quot = false;
    krmUInt32Number end = n < 132 ? n : 132;
    for (krmUInt32Number i = 1; i < end; i++) {
        int c = buffer[i];
        switch (c) {
        case '\n':
        case '\r':
            return (quot || words > 2) ? 0 : words;
        case '\t':
        case ' ':
            if (!quot)
                space = true;
            break;
        case '"':
            quot = !quot;
            break;
        default:
            if (c == '!' || (c >= '#' && c <= 127)) {
                if (space)
                    words++;
                space = false;
            } else {
                return 0;
            }
        }
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Public interface
// ---------------------------------------------------------------------------------------------

static IT8* allocIT8(krmContext ContextID)
{
    IT8* it8 = (IT8*)krmMallocZero(ContextID, sizeof(IT8));
    if (it8 == nullptr)
        return nullptr;
    it8->ContextID = ContextID;
    it8->TablesCount = 0;
    allocTable(it8);
    it8->nTable = 0;
    std::strcpy(it8->Tab[0].SheetType, "CGATS.17");
    it8->Stack[0].LineNo = 1;

    for (const PropertyDef& p : kPredefinedProperties)
        if (!addAvailableProperty(it8, p.id, p.as)) {
            krmIT8Free(it8);
            return nullptr;
        }
    for (const char* s : kPredefinedSamples)
        if (!addAvailableSample(it8, s)) {
            krmIT8Free(it8);
            return nullptr;
        }
    return it8;
}

krmIT8* krmIT8LoadFromMem(krmContext ContextID, const void* Ptr, krmUInt32Number len)
{
    _krmAssert(Ptr != nullptr);

    int words = isMyBlock((const krmUInt8Number*)Ptr, len);
    if (words == 0)
        return nullptr;

    IT8* it8 = allocIT8(ContextID);
    if (it8 == nullptr)
        return nullptr;

    char* text = (char*)krmMalloc(ContextID, len + 1);
    if (text == nullptr) {
        krmIT8Free(it8);
        return nullptr;
    }
    std::memcpy(text, Ptr, len);
    text[len] = 0;

    FileFrame& f = it8->Stack[0];
    f.Base = text;
    f.Size = len;
    f.Pos = 0;
    f.FileName[0] = 0;
    f.LineNo = 1;

    // A one-word first line is the sheet type.
    if (words == 1) {
        while (f.Pos < f.Size && isSeparator(text[f.Pos]))
            f.Pos++;
        krmUInt32Number start = f.Pos;
        while (f.Pos < f.Size && text[f.Pos] != '\t' && text[f.Pos] != '\n' && text[f.Pos] != '\r' && text[f.Pos] != 0)
            f.Pos++;
        krmUInt32Number n = f.Pos - start;
        if (n >= kMaxSheetType)
            n = kMaxSheetType - 1;
        std::memcpy(it8->Tab[0].SheetType, text + start, n);
        it8->Tab[0].SheetType[n] = 0;
    }
    nextCh(it8);

    bool ok = parseIT8(it8, words == 1);
    if (ok)
        ok = cookPointers(it8);

    // Included files still open after an error.
    while (it8->IncludeSP > 0) {
        krmFree(ContextID, it8->Stack[it8->IncludeSP].Owned);
        it8->Stack[it8->IncludeSP].Owned = nullptr;
        it8->IncludeSP--;
    }
    krmFree(ContextID, text);
    it8->Stack[0].Base = nullptr;
    it8->Stack[0].Size = 0;

    if (!ok) {
        krmIT8Free(it8);
        return nullptr;
    }
    it8->nTable = 0;
    return it8;
}

void krmIT8Free(krmIT8* it8)
{
    if (it8 == nullptr)
        return;
    krmContext ctx = it8->ContextID;
    for (int i = 1; i <= it8->IncludeSP && i < kMaxIncludeDepth; i++)
        krmFree(ctx, it8->Stack[i].Owned);
    freePool(it8);
    krmFree(ctx, it8->id);
    krmFree(ctx, it8);
}

krmUInt32Number krmIT8TableCount(krmIT8* it8)
{
    return it8 == nullptr ? 0 : krmUInt32Number(it8->TablesCount);
}

krmInt32Number krmIT8SetTable(krmIT8* it8, krmUInt32Number nTable)
{
    _krmAssert(it8 != nullptr);
    if (nTable >= krmUInt32Number(it8->TablesCount)) {
        krmSignalError(it8->ContextID, krmErrRange, "Table %u out of sequence", nTable);
        return -1;
    }
    it8->nTable = int(nTable);
    return int(nTable);
}

const char* krmIT8GetSheetType(krmIT8* it8)
{
    _krmAssert(it8 != nullptr);
    return getTable(it8)->SheetType;
}

const char* krmIT8GetProperty(krmIT8* it8, const char* Key)
{
    _krmAssert(it8 != nullptr);
    KeyValue* p = findKey(getTable(it8)->HeaderList, Key);
    return p ? p->Value : nullptr;
}

static double parseDouble(const char* s)
{
    if (s == nullptr)
        return 0.0;
    while (*s == ' ' || *s == '\t')
        s++;
    if (*s == '+')
        s++;
    double d = 0.0;
    const char* end = s + std::strlen(s);
    if (end - s > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        long v = 0;
        std::from_chars(s + 2, end, v, 16);
        return double(v);
    }
    std::from_chars(s, end, d);
    return d;
}

krmFloat64Number krmIT8GetPropertyDbl(krmIT8* it8, const char* Key)
{
    return parseDouble(krmIT8GetProperty(it8, Key));
}

const char* krmIT8GetPropertyMulti(krmIT8* it8, const char* Key, const char* SubKey)
{
    _krmAssert(it8 != nullptr);
    KeyValue* p = findKey(getTable(it8)->HeaderList, Key);
    if (p == nullptr)
        return nullptr;
    KeyValue* s = findKey(p->Subkeys, SubKey);
    return s ? s->Value : nullptr;
}

static krmUInt32Number enumList(IT8* it8, KeyValue* list, const char*** names)
{
    krmUInt32Number n = 0;
    for (KeyValue* p = list; p != nullptr; p = p->Next)
        n++;
    const char** arr = (const char**)poolAlloc(it8, (n + 1) * krmUInt32Number(sizeof(char*)));
    if (arr == nullptr) {
        if (names)
            *names = nullptr;
        return 0;
    }
    krmUInt32Number i = 0;
    for (KeyValue* p = list; p != nullptr; p = p->Next)
        arr[i++] = p->Keyword;
    if (names)
        *names = arr;
    return n;
}

krmUInt32Number krmIT8EnumProperties(krmIT8* it8, const char*** PropertyNames)
{
    _krmAssert(it8 != nullptr);
    return enumList(it8, getTable(it8)->HeaderList, PropertyNames);
}

krmUInt32Number krmIT8EnumPropertyMulti(krmIT8* it8, const char* Key, const char*** SubpropertyNames)
{
    _krmAssert(it8 != nullptr);
    KeyValue* p = findKey(getTable(it8)->HeaderList, Key);
    if (p == nullptr) {
        if (SubpropertyNames)
            *SubpropertyNames = nullptr;
        return 0;
    }
    return enumList(it8, p->Subkeys, SubpropertyNames);
}

krmInt32Number krmIT8EnumDataFormat(krmIT8* it8, const char*** SampleNames)
{
    _krmAssert(it8 != nullptr);
    Table* t = getTable(it8);
    if (SampleNames)
        *SampleNames = (const char**)t->DataFormat;
    return t->DataFormat ? t->nSamples : 0;
}

krmInt32Number krmIT8FindDataFormat(krmIT8* it8, const char* cSample)
{
    _krmAssert(it8 != nullptr);
    Table* t = getTable(it8);
    if (t->DataFormat == nullptr || cSample == nullptr)
        return -1;
    for (int i = 0; i < t->nSamples; i++)
        if (t->DataFormat[i] != nullptr && strcasecmp(t->DataFormat[i], cSample) == 0)
            return i;
    return -1;
}

const char* krmIT8GetDataRowCol(krmIT8* it8, krmInt32Number row, krmInt32Number col)
{
    _krmAssert(it8 != nullptr);
    Table* t = getTable(it8);
    if (t->Data == nullptr || row < 0 || col < 0 || row >= t->nPatches || col >= t->nSamples)
        return nullptr;
    return t->Data[row * t->nSamples + col];
}

krmFloat64Number krmIT8GetDataRowColDbl(krmIT8* it8, krmInt32Number row, krmInt32Number col)
{
    return parseDouble(krmIT8GetDataRowCol(it8, row, col));
}

krmInt32Number krmIT8GetPatchByName(krmIT8* it8, const char* cPatch)
{
    _krmAssert(it8 != nullptr);
    Table* t = getTable(it8);
    if (t->Data == nullptr || cPatch == nullptr || t->SampleID < 0)
        return -1;
    for (int i = 0; i < t->nPatches; i++) {
        const char* d = t->Data[i * t->nSamples + t->SampleID];
        if (d != nullptr && strcasecmp(d, cPatch) == 0)
            return i;
    }
    return -1;
}

const char* krmIT8GetPatchName(krmIT8* it8, krmInt32Number nPatch)
{
    _krmAssert(it8 != nullptr);
    Table* t = getTable(it8);
    if (t->SampleID < 0)
        return nullptr;
    return krmIT8GetDataRowCol(it8, nPatch, t->SampleID);
}

const char* krmIT8GetData(krmIT8* it8, const char* cPatch, const char* cSample)
{
    int col = krmIT8FindDataFormat(it8, cSample);
    int row = krmIT8GetPatchByName(it8, cPatch);
    if (col < 0 || row < 0)
        return nullptr;
    return krmIT8GetDataRowCol(it8, row, col);
}

krmFloat64Number krmIT8GetDataDbl(krmIT8* it8, const char* cPatch, const char* cSample)
{
    return parseDouble(krmIT8GetData(it8, cPatch, cSample));
}
