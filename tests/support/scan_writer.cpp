#include "tests/support/scan_writer.h"

#include <itkGDCMImageIO.h>
#include <itkMetaDataObject.h>
#include <itkMetaImageIO.h>
#include <itkNiftiImageIO.h>
#include <itkNrrdImageIO.h>

#include <cstring>
#include <sstream>

namespace scan_test {
namespace {

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

itk::IOComponentEnum ComponentOf(StoredType type) {
    using C = itk::IOComponentEnum;
    switch (type) {
        case StoredType::UInt8:
            return C::UCHAR;
        case StoredType::Int8:
            return C::CHAR;
        case StoredType::UInt16:
            return C::USHORT;
        case StoredType::Int16:
            return C::SHORT;
        case StoredType::UInt32:
            return C::UINT;
        case StoredType::Int32:
            return C::INT;
        case StoredType::UInt64:
            return C::ULONGLONG;
        case StoredType::Int64:
            return C::LONGLONG;
        case StoredType::Float32:
            return C::FLOAT;
        case StoredType::Float64:
            return C::DOUBLE;
    }
    return C::SHORT;
}

std::vector<char> Pack(StoredType type, const std::vector<double>& values) {
    std::vector<char> bytes;
    auto put = [&](auto typed) {
        bytes.resize(values.size() * sizeof(typed));
        for (size_t i = 0; i < values.size(); ++i) {
            typed = static_cast<decltype(typed)>(values[i]);
            std::memcpy(bytes.data() + i * sizeof(typed), &typed, sizeof(typed));
        }
    };
    switch (type) {
        case StoredType::UInt8:
            put(uint8_t{});
            break;
        case StoredType::Int8:
            put(int8_t{});
            break;
        case StoredType::UInt16:
            put(uint16_t{});
            break;
        case StoredType::Int16:
            put(int16_t{});
            break;
        case StoredType::UInt32:
            put(uint32_t{});
            break;
        case StoredType::Int32:
            put(int32_t{});
            break;
        case StoredType::UInt64:
            put(uint64_t{});
            break;
        case StoredType::Int64:
            put(int64_t{});
            break;
        case StoredType::Float32:
            put(float{});
            break;
        case StoredType::Float64:
            put(double{});
            break;
    }
    return bytes;
}

void Describe(itk::ImageIOBase& io, const ScanSpec& spec, unsigned dimensions, uint32_t depth) {
    io.SetNumberOfDimensions(dimensions);
    const uint32_t sizes[4] = {spec.dims[0], spec.dims[1], depth, spec.timePoints};
    for (unsigned i = 0; i < dimensions; ++i) {
        io.SetDimensions(i, sizes[i]);
        io.SetSpacing(i, i < 3 ? spec.spacing[i] : 1.0);
        io.SetOrigin(i, i < 3 ? spec.origin[i] : 0.0);
        std::vector<double> direction(dimensions, 0.0);
        for (unsigned p = 0; p < dimensions; ++p)
            direction[p] = (i < 3 && p < 3) ? spec.directions[p][i] : (p == i ? 1.0 : 0.0);
        io.SetDirection(i, direction);
    }
    io.SetComponentType(ComponentOf(spec.type));
    io.SetNumberOfComponents(spec.components);
    io.SetPixelType(spec.components == 3  ? itk::IOPixelEnum::RGB
                    : spec.components > 1 ? itk::IOPixelEnum::VECTOR
                                          : itk::IOPixelEnum::SCALAR);
    itk::ImageIORegion region(dimensions);
    for (unsigned i = 0; i < dimensions; ++i) {
        region.SetIndex(i, 0);
        region.SetSize(i, sizes[i]);
    }
    io.SetIORegion(region);
}

}  // namespace

std::string WriteScan(const std::string& path, const ScanSpec& spec, const std::vector<double>& values) {
    itk::ImageIOBase::Pointer io;
    if (EndsWith(path, ".nii") || EndsWith(path, ".nii.gz") || EndsWith(path, ".hdr"))
        io = itk::NiftiImageIO::New().GetPointer();
    else if (EndsWith(path, ".nrrd") || EndsWith(path, ".nhdr"))
        io = itk::NrrdImageIO::New().GetPointer();
    else if (EndsWith(path, ".mha") || EndsWith(path, ".mhd"))
        io = itk::MetaImageIO::New().GetPointer();
    else
        return "no writer for " + path;
    try {
        Describe(*io, spec, spec.timePoints > 1 ? 4 : 3, spec.dims[2]);
        io->SetUseCompression(EndsWith(path, ".gz"));
        io->SetFileName(path);
        const std::vector<char> bytes = Pack(spec.type, values);
        io->Write(bytes.data());
    } catch (const itk::ExceptionObject& e) {
        return e.GetDescription();
    }
    return {};
}

std::string WriteDicomSeries(const std::string& folder, const ScanSpec& spec,
                             const std::vector<double>& values, const std::vector<std::string>& fileNames,
                             double slope, double intercept, const std::string& seriesUid,
                             const std::string& modality) {
    const size_t sliceSize = size_t{spec.dims[0]} * spec.dims[1];
    try {
        for (uint32_t z = 0; z < spec.dims[2]; ++z) {
            auto io = itk::GDCMImageIO::New();
            ScanSpec slice = spec;
            for (int p = 0; p < 3; ++p)
                slice.origin[p] = spec.origin[p] + z * spec.spacing[2] * spec.directions[p][2];
            Describe(*io, slice, 3, 1);
            itk::MetaDataDictionary& tags = io->GetMetaDataDictionary();
            auto set = [&](const char* tag, const std::string& value) {
                itk::EncapsulateMetaData<std::string>(tags, tag, value);
            };
            set("0008|0060", modality);
            set("0020|000d", "1.2.826.0.1.3680043.2.1125.9");
            set("0020|000e", seriesUid);
            set("0020|0013", std::to_string(z + 1));
            std::ostringstream number;
            number.precision(17);
            number << intercept;
            set("0028|1052", number.str());
            number.str({});
            number << slope;
            set("0028|1053", number.str());
            io->KeepOriginalUIDOn();
            io->SetFileName(folder + "/" + fileNames.at(z));
            const std::vector<double> sliceValues(values.begin() + static_cast<long>(z * sliceSize),
                                                  values.begin() + static_cast<long>((z + 1) * sliceSize));
            const std::vector<char> bytes = Pack(spec.type, sliceValues);
            io->Write(bytes.data());
        }
    } catch (const itk::ExceptionObject& e) {
        return e.GetDescription();
    }
    return {};
}

}  // namespace scan_test
