// The field names that the record reader recognises.
#include "rundown/fast/record.hpp"

namespace rundown::fast {

Reader::Reader(const State& st)
    : names_{st.type.get(),       st.text.get(),          st.level.get(),
             st.cells.get(),      st.summary_text_key.get(), st.is_success_key.get(),
             st.blocks_key.get(), st.product_links_key.get(), st.recommended_asins_key.get(),
             st.asin.get(),       st.title.get(),         st.href.get(),
             st.source.get(),     st.description.get(),   st.question.get(),
             st.answers.get(),    st.questions.get(),     st.upload_payload.get(),
             st.records.get()} {
    std::memset(cache_, 0, sizeof cache_);
}

}  // namespace rundown::fast
