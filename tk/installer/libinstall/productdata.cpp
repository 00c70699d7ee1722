#include "tk/installer/libinstall/productdata.h"

namespace ts { namespace tk { namespace install {

const wchar_t* const kLegacyUpgradeCodes[36] = {
    L"{e7cb0b1f-56be-500f-9c91-a06a891923fc}",
    L"{49b0b629-a52c-55ba-877f-70648653cd6d}",
    L"{514df0c1-9d0f-58d0-ac02-9de150a67c5d}",
    L"{009d9716-a6f8-5419-b216-f6db9def26d4}",
    L"{be4c6e4f-4fca-5bbc-aed6-8e6197a8fd47}",
    L"{8781f33a-5639-5740-b8f6-ec4e4592e379}",
    L"{c69656fe-5f82-596a-812e-5df788d701cc}",
    L"{aabfd8d6-62f0-5bbc-b80c-cad54b29ebe1}",
    L"{51aacef0-ec2c-559d-9795-432fc57dcd9e}",
    L"{a6449c06-ffc2-5334-a676-7b438db2296c}",
    L"{39cf6810-2f40-5a02-ba28-b095440830cf}",
    L"{b959dd5e-418a-526f-84c3-8abbfd9dc2d3}",
    L"{09e485c7-2dd4-579d-abfc-2d7898b04f85}",
    L"{d0b0e3ce-0a52-53ef-b362-b57cb08ae879}",
    L"{33098c60-7e86-51bf-8d32-c6bf18992c5a}",
    L"{7c426667-4371-55e1-b378-6275ff7f9ea2}",
    L"{a430dfaa-6454-571b-90af-23276303f699}",
    L"{f6a53f73-d565-541e-ba59-4c2bc52c9055}",
    L"{6e40be7e-afd7-51d0-a4a2-5b167a616045}",
    L"{64142d8b-1ea5-5d0f-a155-d326d3c65eba}",
    L"{f2e4e18b-db68-545b-b493-27adbcf891cf}",
    L"{55af640f-b0c9-5eba-b9a4-9f22b0d8eeef}",
    L"{ad613785-c7d7-5a1b-910f-113c0f96cebd}",
    L"{830bdc79-a6be-51e6-9f71-5127de9e1288}",
    L"{99c25f6b-5eba-5577-95f8-8b983e2a7f90}",
    L"{fdcb4adc-daf0-53fb-bf8f-155f07e1e0d0}",
    L"{ddee802b-a2b5-520a-ba5f-b5369fda6d42}",
    L"{2c408fc3-5b27-5480-a1ef-309dd15ea09f}",
    L"{b8eca779-b176-5cae-b4f6-13cc236cd8cf}",
    L"{bcd9e194-6fc8-5386-8ebd-704bc1dd71d9}",
    L"{40fc0ec7-7420-5507-a1aa-a0bae4c4cb6d}",
    L"{9cef1301-2402-583d-97d4-eb2d047a989c}",
    L"{1a3f4389-0d5b-560f-8ad4-f115922b63d4}",
    L"{152059e8-f449-5f3b-a726-2b7f3d563025}",
    L"{a7576f31-8f2f-5496-a854-1cd726a48204}",
    L"",
};

const wchar_t* const kLegacyDisplayNames[2] = {L"Tessaline Graphics", L"Orlin USB Graphics"};
const wchar_t kCoreDisplayName[] = L"Tessaline Core Software";

const GUID kProductDeviceClassGuid = {0x08223db8, 0x076f, 0x52f3, {0xb3, 0x13, 0x61, 0x6c, 0x09, 0xf7, 0x79, 0x2a}};
const wchar_t kProductDeviceClassGuidText[] = L"{08223db8-076f-52f3-b313-616c09f7792a}";

}}} // namespace ts::tk::install
