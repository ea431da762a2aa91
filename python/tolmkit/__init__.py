"""Companion of the TOLM extension module: from a pedigree file to inbreeding,
additive and dominance relationships, with numpy and scipy.sparse.

    pedigree = tolmkit.read_pedigree("herd.csv")
    f, sampling_var = tolmkit.inbreeding(pedigree)
    a = tolmkit.relationship_matrix(pedigree)
    d = tolmkit.dominance_matrix(pedigree)
    table = tolmkit.pedigree_statistics(pedigree)
    a_inverse = tolmkit.inverse_relationship_matrix(pedigree)
    among = tolmkit.relationships_among(pedigree, candidates)
"""

from ._advice import PedigreeError
from ._version import __version__
from .among import relationship_pairs, relationships_among
from .ancestral import (
    AncestralInbreeding,
    PartialInbreeding,
    ancestral_inbreeding,
    kalinowski_inbreeding,
    partial_inbreeding,
)
from .apy import ApyInverse
from .births import birth_column, birth_order, cohorts, parent_ages
from .completeness import ancestors_known, completeness_by_generation, parents_by_cohort
from .contributors import ancestors_table, n50
from .genomic import (
    GenomicComparison,
    HybridInverse,
    genomic_relationship_matrix,
    hybrid_inverse,
    hybrid_relationship,
    suggest_core_size,
)
from .genotypes import GenotypeError, read_genotypes
from .inverse import inverse_relationship_matrix
from .kinship import conservation_index, mean_kinship
from .metafounders import estimate_gamma
from .pedigree import MISSING_PARENT, Pedigree, PedigreeCounts, ancestry, prune, sexes
from .population import PopulationFigures, population_figures
from .quality import GenotypeQuality, genotype_quality
from .reading import read_pedigree
from .records import UNKNOWN_PARENTS
from .relationship_files import RelationshipFileError, read_relationships
from .relationships import (
    DEFAULT_MEMORY_LIMIT,
    MemoryLimitExceeded,
    dominance_matrix,
    dominance_pairs,
    inbreeding,
    relationship_matrix,
)
from .simulate import simulate_pedigree
from .singlestep import A22Inverse, HybridOperator, a22_inverse_product
from .solve import AnimalModelSolution, solve_animal_model
from .statistics import (
    EffectiveSize,
    FounderStatistics,
    effective_population_size,
    founder_statistics,
    generation_intervals,
    inbreeding_classes,
    intervals_by_cohort,
    pedigree_statistics,
    summary_by,
    summary_by_year,
)
from .threads import get_threads, set_threads

__all__ = [
    "A22Inverse",
    "AnimalModelSolution",
    "ApyInverse",
    "DEFAULT_MEMORY_LIMIT",
    "EffectiveSize",
    "FounderStatistics",
    "GenomicComparison",
    "GenotypeError",
    "GenotypeQuality",
    "HybridInverse",
    "HybridOperator",
    "MISSING_PARENT",
    "MemoryLimitExceeded",
    "Pedigree",
    "PedigreeCounts",
    "PedigreeError",
    "RelationshipFileError",
    "UNKNOWN_PARENTS",
    "__version__",
    "a22_inverse_product",
    "ancestry",
    "birth_column",
    "birth_order",
    "cohorts",
    "dominance_matrix",
    "dominance_pairs",
    "effective_population_size",
    "estimate_gamma",
    "founder_statistics",
    "generation_intervals",
    "get_threads",
    "genomic_relationship_matrix",
    "genotype_quality",
    "hybrid_inverse",
    "hybrid_relationship",
    "inbreeding",
    "inbreeding_classes",
    "inverse_relationship_matrix",
    "parent_ages",
    "pedigree_statistics",
    "prune",
    "read_genotypes",
    "read_pedigree",
    "read_relationships",
    "relationship_matrix",
    "relationship_pairs",
    "relationships_among",
    "set_threads",
    "sexes",
    "simulate_pedigree",
    "solve_animal_model",
    "suggest_core_size",
    "summary_by",
    "summary_by_year",
    "AncestralInbreeding",
    "PartialInbreeding",
    "PopulationFigures",
    "ancestral_inbreeding",
    "ancestors_known",
    "ancestors_table",
    "completeness_by_generation",
    "conservation_index",
    "intervals_by_cohort",
    "kalinowski_inbreeding",
    "mean_kinship",
    "n50",
    "parents_by_cohort",
    "partial_inbreeding",
    "population_figures",
]
