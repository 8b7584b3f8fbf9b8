// A skin key names one value of the skin store: the number of its section and the
// number of the key within that section. Both are positions in byte order of the
// lower-case names, fixed when the skin files are turned into the generated
// SkinKeys.h, which declares one constant per key as Skin::<SECTION>::<KEY>, for
// example Skin::GENERAL::FONT_SIZE_NORMAL.
#pragma once

struct SkinKey
{
    int section;
    int key;
};
