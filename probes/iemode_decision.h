#pragma once

#include "edge_policy.h"

// What Edge's IE mode needs on this machine for the portal, beside the four IE settings.
enum class IEModeState {
    NotNeeded,          // Internet Explorer is not retired here: IE itself opens the portal
    EdgeMissing,        // IE is retired and Edge is not installed
    OrganisationList,   // an organisation's site list decides; it is not read
    PolicyOff,          // IE mode is not turned on with our site list
    SiteListIncomplete, // our site list is named, but the file lacks a host (or is missing)
    Ready,              // Edge opens every host in IE mode
};

// `listHolds`: our site list file holds every host the portal needs.
IEModeState DecideIEMode(bool ieRetired, bool edgeFound, const IEModePolicy& policy,
                         bool listHolds);

// Whether the IE row can be in order in this state.
inline bool IEModeInOrder(IEModeState state) {
    return state == IEModeState::NotNeeded || state == IEModeState::OrganisationList ||
           state == IEModeState::Ready;
}
