#pragma once

#include <krm.h>

#include <QString>

// Class-mask bits of a profile chooser.
enum ProfileClassBit : int {
    ClassOutput = 1,      // 'prtr'
    ClassInput = 2,       // 'scnr'
    ClassAbstract = 4,    // 'abst'
    ClassColorSpace = 8,  // 'spac'
    ClassDisplay = 16,    // 'mntr'
    ClassNamed = 32,      // 'nmcl'
};

// Space-mask bits of a profile chooser.
enum ProfileSpaceBit : int {
    SpaceGray = 1,
    SpaceRGB = 2,
    SpaceCMYK = 4,
    SpaceLab = 8,
    SpaceMulti = 16,  // MCH1..MCHF, 1CLR..FCLR, 'nmcl'
};

// One profile offered by a chooser: its texts and the flags that decide its icon.
struct ProfileEntry {
    QString name;  // built-in name ("*srgb", "*user" ...) or the file's path
    QString manufacturer;
    QString model;
    QString description;
    QString rights;
    bool builtin = false;
    bool toolMadeAbstract = false;  // abstract with a 'targ' CGATS sheet of type "TESSERATOR"
    int space = 0;                  // space bit of the colour space, 0 outside the table
    int pcs = 0;                    // space bit of the PCS
    bool version4 = false;
    bool abstract = false;
    bool notMatrixShaper = false;
    bool named = false;

    // The entry of an open profile listed under `name`, its texts in the given language and
    // country (two-letter codes) as the localized-text look-up finds them.
    static ProfileEntry fromProfile(krmProfile profile, const QString& name, const char* language = "en",
                                    const char* country = "US");

    // The text shown in lists: the description, or the file name of a profile without one.
    QString displayText() const;
    // The compiled-in picture for this entry (":/icc4.png" ...).
    QString iconName() const;
    // Rich text for a file, the plain description for a built-in.
    QString toolTip() const;
};

// The space bit of a colour-space signature, 0 for spaces outside the table.
int profile_space_bit(krmColorSpaceSignature space);
// The class bit of a device class, 0 for classes a chooser never accepts (links and others).
int profile_class_bit(krmProfileClassSignature deviceClass);

// True when the profile's class and colour space are enabled in the masks; a named-colour
// profile also needs at least one colour with a real PCS value.
bool profile_passes_masks(krmProfile profile, int classMask, int spaceMask);
