#pragma once
// Resource ids of the property-page module (also read by the resource script).

#define IDS_PAGE_TITLE_EXPOSURE 101
#define IDS_PAGE_TITLE_FEATURE 102
#define IDS_PAGE_TITLE_LENS 103
#define IDS_PAGE_TITLE_COLOR 104
#define IDD_PROPERTY_PAGE 105
