#include "engine/ComponentEntry.h"

ComponentEntry* GetComponentTable()
{
    static ComponentEntry s_Table[COMPONENT_COUNT];
    return s_Table;
}
