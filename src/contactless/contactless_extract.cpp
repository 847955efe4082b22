#include "carvix/contactless/contactless_extract.h"

namespace carvix::contactless {

void FillExtract(VLContactlessModel& extract, const VLDocumentModel& document,
                 const VLFixedPersoModel& fixed, const VLVariablePersoModel& variable) {
    extract.CardID.CopyFrom(document.CardID);
    extract.ChipSerialNumber.CopyFrom(document.ChipSerialNumber);
    extract.PersonalNumber.CopyFrom(fixed.PersonalNumber);
    extract.LastName.CopyFrom(fixed.LastName);
    extract.FirstName.SetValue(fixed.FirstName.GetValue());
    extract.ParentName.SetValue(fixed.ParentName.GetValue());
    extract.Status.CopyFrom(fixed.Status);
    if (!variable.Rank.IsNull()) {
        extract.Rank.CopyFrom(variable.Rank);
    }
    extract.OrgUnit.CopyFrom(variable.OrgUnit);
    extract.ServiceSite.CopyFrom(variable.ServiceSite);
}

}  // namespace carvix::contactless
