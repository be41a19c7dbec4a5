# Verification flows: the flow screens, their view models and the terms screen.
list(APPEND ORVIX_FLOWS_SOURCES
    resources/orvix_resources.qrc
    flows/TermsConditionVC.h flows/TermsConditionVC.cpp
    flows/DigiLockerViewController.h flows/DigiLockerViewController.cpp
    flows/AadhaarRecordProcessing.h flows/AadhaarRecordProcessing.cpp
    flows/NewAadhaarFlowViewModel.h flows/NewAadhaarFlowViewModel.cpp
    flows/NewAadhaarFlowVC.h flows/NewAadhaarFlowVC.cpp
    flows/JavaScriptLiteral.h flows/JavaScriptLiteral.cpp
    flows/OldAadhaarFlowVC.h flows/OldAadhaarFlowVC.cpp
)
