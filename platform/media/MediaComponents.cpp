#include "platform/media/MediaComponents.h"

#include "platform/dshow/ComponentRegistry.h"
#include "platform/media/CAudioDecoder.h"
#include "platform/media/CAudioRenderer.h"
#include "platform/media/CMpeg2VideoDecoder.h"
#include "platform/media/CVideoRenderer.h"
#include "platform/media/MediaClsids.h"

HRESULT RegisterMediaComponents() {
    ComponentRegistry& registry = ComponentRegistry::Instance();
    ComponentInfo video;
    video.clsid = CLSID_MpegDecoder;
    video.name = L"MPEG-2 Video Decoder";
    video.merit = MERIT_NORMAL;
    video.inputTypes = {{MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO},
                        {MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Payload},
                        {MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Packet}};
    video.create = MakeFactory(&CMpeg2VideoDecoder::CreateInstance);

    ComponentInfo audio;
    audio.clsid = CLSID_MpaDecoder;
    audio.name = L"Audio Decoder";
    audio.merit = MERIT_NORMAL;
    audio.inputTypes = {{MEDIATYPE_Audio, MEDIASUBTYPE_DOLBY_AC3},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_DTS},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_DVD_LPCM_AUDIO},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1AudioPayload},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Audio},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Packet},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG2_AUDIO},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MP3}};
    audio.create = MakeFactory(&CAudioDecoder::CreateInstance);

    ComponentInfo vmr;
    vmr.clsid = CLSID_VideoMixingRenderer9;
    vmr.name = L"Video Mixing Renderer";
    vmr.merit = MERIT_NORMAL;
    vmr.inputTypes = {{MEDIATYPE_Video, MEDIASUBTYPE_YV12}};
    vmr.create = MakeFactory(&CVideoRenderer::CreateInstance);

    ComponentInfo sound;
    sound.clsid = CLSID_AudioRenderer;
    sound.name = L"Audio Renderer";
    sound.merit = MERIT_NORMAL;
    sound.inputTypes = {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}};
    sound.create = MakeFactory(&CAudioRenderer::CreateInstance);

    for (ComponentInfo* info : {&video, &audio, &vmr, &sound}) {
        HRESULT hr = registry.Register(*info);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}
