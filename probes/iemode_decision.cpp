#include "iemode_decision.h"

IEModeState DecideIEMode(bool ieRetired, bool edgeFound, const IEModePolicy& policy,
                         bool listHolds) {
    if (!ieRetired)
        return IEModeState::NotNeeded;
    if (!edgeFound)
        return IEModeState::EdgeMissing;
    if (!policy.organisationList.empty())
        return IEModeState::OrganisationList;
    if (!policy.levelSet || policy.level != 1 || policy.siteList.empty())
        return IEModeState::PolicyOff;
    return listHolds ? IEModeState::Ready : IEModeState::SiteListIncomplete;
}
