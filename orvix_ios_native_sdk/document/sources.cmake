# Offline e-KYC document: XML to JSON, the record model, the Verhoeff check,
# the submission of a verified record to the backend.
list(APPEND ORVIX_DOCUMENT_SOURCES
    document/ParseXMLData.h document/ParseXMLData.cpp
    document/OfflinePaperlessKycModel.h document/OfflinePaperlessKycModel.cpp
    document/AadhaarHelper.h document/AadhaarHelper.cpp
    document/OldAadhaarFlowViewModel.h document/OldAadhaarFlowViewModel.cpp
)
