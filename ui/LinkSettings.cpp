#include "ui/LinkSettings.h"

LinkSettings theLinkSettings = kInitialLinkSettings;
